// Applying book events and summing resting quantity per price band.
#include "panels/order_book.h"

#include "numeric.h"

namespace ovra {

namespace {

void apply_level(OrderBook::Side& side, const BookLevel& level) {
    const std::int64_t key = total_order_key(level.price);
    if (level.qty == 0.0) {
        side.erase(key);
    } else {
        side.insert_or_assign(key, level.qty);
    }
}

// First entry whose price is numerically >= x (x not NaN). -0.0 and 0.0 are
// equal as numbers, so a bound at either zero starts at -0.0; negative NaN
// patterns sort below every number and are skipped.
OrderBook::Side::const_iterator seek(const OrderBook::Side& side, double x) {
    return side.lower_bound(total_order_key(x == 0.0 ? -0.0 : x));
}

}  // namespace

void OrderBook::apply(const BookEvent& event) {
    if (event.kind == BookEventKind::Snapshot) {
        bids_.clear();
        asks_.clear();
    }
    for (const BookLevel& level : event.bids) apply_level(bids_, level);
    for (const BookLevel& level : event.asks) apply_level(asks_, level);
}

void OrderBook::replay(std::span<const BookEvent> events) {
    std::size_t first = events.size();
    while (first > 0 && events[first - 1].kind != BookEventKind::Snapshot) --first;
    if (first > 0) --first;  // start at the last snapshot itself
    for (const BookEvent& event : events.subspan(first)) apply(event);
}

void add_band_sums(const OrderBook::Side& side, std::span<const double> lo, std::span<const double> hi,
                   std::span<double> out) {
    if (side.empty()) return;
    // A band's entries are one contiguous run of the sorted side. The ladder
    // normally ascends, so the run's start only moves forward and a whole
    // row costs one walk over the entries inside the ladder; a band whose
    // lower edge drops (possible only with non-finite edges) seeks afresh.
    auto cursor = side.end();
    double cursor_lo = 0.0;
    for (std::size_t l = 0; l < out.size(); ++l) {
        const double band_lo = lo[l];
        const double band_hi = hi[l];
        if (!(band_lo < band_hi)) continue;  // empty band, or a NaN edge
        if (cursor == side.end() || band_lo < cursor_lo) {
            cursor = seek(side, band_lo);
        } else {
            while (cursor != side.end() && total_order_value(cursor->first) < band_lo) ++cursor;
        }
        cursor_lo = band_lo;
        double sum = out[l];
        for (auto it = cursor; it != side.end() && total_order_value(it->first) < band_hi; ++it) {
            sum += it->second;
        }
        out[l] = sum;
    }
}

}  // namespace ovra
