// Applying book events and summing resting quantity per price band.
#include "panels/order_book.h"

#include "numeric.h"

namespace ovra {

namespace {

// First ascending position whose price is numerically >= x (x not NaN).
// -0.0 and 0.0 are equal as numbers, so a bound at either zero starts at
// -0.0; negative NaN patterns sort below every number and are skipped.
std::size_t seek(const SideView& side, double x) noexcept {
    return side.lower_bound(total_order_key(x == 0.0 ? -0.0 : x));
}

// The events from the last snapshot on: the ones before it cannot change
// the outcome of a replay.
std::span<const BookEvent> from_last_snapshot(std::span<const BookEvent> events) noexcept {
    std::size_t first = events.size();
    while (first > 0 && events[first - 1].kind != BookEventKind::Snapshot) --first;
    if (first > 0) --first;  // start at the last snapshot itself
    return events.subspan(first);
}

}  // namespace

// The sides never interact: replaying one after the other gives the book
// that replaying event by event does.
void OrderBook::replay(std::span<const BookEvent> events) {
    replay_side(bids_, SideId::Bids, events);
    replay_side(asks_, SideId::Asks, events);
}

void replay_side(BookSide& side, SideId which, std::span<const BookEvent> events) {
    for (const BookEvent& event : from_last_snapshot(events)) {
        if (event.kind == BookEventKind::Snapshot) side.clear();
        const std::span<const BookLevel> levels = which == SideId::Bids ? event.bids : event.asks;
        for (const BookLevel& level : levels) side.apply(level.price, level.qty);
    }
}

void add_band_sums(const SideView& side, std::span<const double> lo, std::span<const double> hi,
                   std::span<double> out) {
    const std::size_t n = side.size();
    if (n == 0) return;
    // A band's entries are one contiguous run of the sorted side. The ladder
    // normally ascends, so the run's start only moves forward and a whole
    // row costs one walk over the entries inside the ladder; a band whose
    // lower edge drops (possible only with non-finite edges) seeks afresh.
    std::size_t cursor = n;
    double cursor_lo = 0.0;
    for (std::size_t l = 0; l < out.size(); ++l) {
        const double band_lo = lo[l];
        const double band_hi = hi[l];
        if (!(band_lo < band_hi)) continue;  // empty band, or a NaN edge
        if (cursor == n || band_lo < cursor_lo) {
            cursor = seek(side, band_lo);
        } else {
            while (cursor != n && total_order_value(side.key_at(cursor)) < band_lo) ++cursor;
        }
        cursor_lo = band_lo;
        double sum = out[l];
        for (std::size_t i = cursor; i != n && total_order_value(side.key_at(i)) < band_hi; ++i) {
            sum += side.qty_at(i);
        }
        out[l] = sum;
    }
}

}  // namespace ovra
