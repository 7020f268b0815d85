// Applying book events and summing resting quantity per price band.
#include "panels/order_book.h"

#include "numeric.h"

namespace ovra {

namespace {

// First position in the sorted a[0, n) whose value v has !before(v, x).
// Branch-free halving: the comparisons of a price search are unpredictable,
// and a conditional move costs less than a mispredicted jump.
template <class Before>
std::size_t partition_index(const std::int64_t* a, std::size_t n, std::int64_t x, Before before) noexcept {
    if (n == 0) return 0;
    std::size_t base = 0;
    while (n > 1) {
        const std::size_t half = n / 2;
        // A multiplication, not a conditional: compilers turn the latter
        // into a jump here.
        base += static_cast<std::size_t>(before(a[base + half - 1], x)) * half;
        n -= half;
    }
    return base + static_cast<std::size_t>(before(a[base], x));
}

std::size_t lower_index(std::span<const std::int64_t> a, std::int64_t x) noexcept {
    return partition_index(a.data(), a.size(), x, [](std::int64_t v, std::int64_t y) { return v < y; });
}

// Levels at the back of a side looked at before any search: most book
// updates land within a few levels of the best price, which is stored last.
constexpr std::size_t kNearBest = 16;

// lower_index for a search that most often ends near the back. Counting the
// keys >= x among the last kNearBest has no data-dependent jump; only when
// all of them are >= x does a search of the rest follow.
std::size_t lower_index_from_back(const std::vector<std::int64_t>& a, std::int64_t x) noexcept {
    const std::size_t n = a.size();
    const std::size_t tail = n < kNearBest ? n : kNearBest;
    std::size_t at_least = 0;
    for (std::size_t i = n - tail; i < n; ++i) at_least += a[i] >= x ? 1 : 0;
    if (at_least < tail || tail == n) return n - at_least;
    return partition_index(a.data(), n - tail, x, [](std::int64_t v, std::int64_t y) { return v < y; });
}

std::size_t upper_index(std::span<const std::int64_t> a, std::int64_t x) noexcept {
    return partition_index(a.data(), a.size(), x, [](std::int64_t v, std::int64_t y) { return v <= y; });
}

// First ascending position whose price is numerically >= x (x not NaN).
// -0.0 and 0.0 are equal as numbers, so a bound at either zero starts at
// -0.0; negative NaN patterns sort below every number and are skipped.
std::size_t seek(const SideView& side, double x) noexcept {
    return side.lower_bound(total_order_key(x == 0.0 ? -0.0 : x));
}

}  // namespace

void BookSide::apply(double price, double qty) {
    const std::int64_t stored = total_order_key(price) ^ flip_;
    const std::size_t i = lower_index_from_back(stored_, stored);
    const bool present = i < stored_.size() && stored_[i] == stored;
    const auto at = static_cast<std::ptrdiff_t>(i);
    if (qty == 0.0) {
        if (present) {
            stored_.erase(stored_.begin() + at);
            qty_.erase(qty_.begin() + at);
        }
    } else if (present) {
        qty_[i] = qty;
    } else {
        stored_.insert(stored_.begin() + at, stored);
        qty_.insert(qty_.begin() + at, qty);
    }
}

std::size_t SideView::lower_bound(std::int64_t key) const noexcept {
    if (flip == 0) return lower_index(stored, key);
    // Stored descending in key: the entries with key >= k are the stored
    // prefix with ~key <= ~k, which ends the ascending order.
    return stored.size() - upper_index(stored, ~key);
}

void OrderBook::apply(const BookEvent& event) {
    if (event.kind == BookEventKind::Snapshot) {
        bids_.clear();
        asks_.clear();
    }
    for (const BookLevel& level : event.bids) bids_.apply(level.price, level.qty);
    for (const BookLevel& level : event.asks) asks_.apply(level.price, level.qty);
}

namespace {

// The events from the last snapshot on: the ones before it cannot change
// the outcome of a replay.
std::span<const BookEvent> from_last_snapshot(std::span<const BookEvent> events) noexcept {
    std::size_t first = events.size();
    while (first > 0 && events[first - 1].kind != BookEventKind::Snapshot) --first;
    if (first > 0) --first;  // start at the last snapshot itself
    return events.subspan(first);
}

}  // namespace

void OrderBook::replay(std::span<const BookEvent> events) {
    for (const BookEvent& event : from_last_snapshot(events)) apply(event);
}

void replay_side(BookSide& side, SideId which, std::span<const BookEvent> events) {
    for (const BookEvent& event : from_last_snapshot(events)) {
        if (event.kind == BookEventKind::Snapshot) side.clear();
        for (const BookLevel& level : which == SideId::Bids ? event.bids : event.asks) side.apply(level.price, level.qty);
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
