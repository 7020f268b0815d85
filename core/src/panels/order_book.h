// A replayed order book: bids and asks, each a sorted flat array of prices
// keyed by the IEEE total order, so -0.0 and 0.0 are separate prices and
// every NaN pattern has its own place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "dataset.h"

namespace ovra {

// A read-only look at one side of a book, or at a stored copy of one, in
// ascending price order. `stored` ascends; entry i of the side is
// stored[i] ^ flip when flip is 0 and stored[size - 1 - i] ^ flip when flip
// is all ones (a side kept with inverted keys, best price last).
struct SideView {
    std::span<const std::int64_t> stored;
    std::span<const double> qty;
    std::int64_t flip = 0;

    std::size_t size() const noexcept { return stored.size(); }
    std::int64_t key_at(std::size_t i) const noexcept { return stored[storage_index(i)] ^ flip; }
    double qty_at(std::size_t i) const noexcept { return qty[storage_index(i)]; }
    // Ascending position of the first entry whose key is >= key.
    std::size_t lower_bound(std::int64_t key) const noexcept;

private:
    std::size_t storage_index(std::size_t i) const noexcept { return flip ? stored.size() - 1 - i : i; }
};

// One side of a book: keys (total_order_key of the price) and quantities in
// two parallel arrays. A book holds a few hundred levels and most updates
// land near the best price, so a sorted array with its best price last beats
// a node tree: the search stays in cache and an insert or removal moves only
// the few levels behind the best. Bids are stored in ascending key order,
// asks with every key bit-inverted (~key), which reverses their order and
// so also puts the lowest ask last.
class BookSide {
public:
    enum class Best { Highest, Lowest };

    explicit BookSide(Best best) noexcept : flip_(best == Best::Highest ? 0 : -1) {}

    // A zero quantity (0.0 or -0.0) removes the price, any other replaces it.
    void apply(double price, double qty);
    void clear() noexcept {
        stored_.clear();
        qty_.clear();
    }

    bool empty() const noexcept { return stored_.empty(); }
    std::size_t size() const noexcept { return stored_.size(); }
    // The best price's key: the highest bid or the lowest ask (not empty).
    std::int64_t best_key() const noexcept { return stored_.back() ^ flip_; }
    SideView view() const noexcept { return {stored_, qty_, flip_}; }

private:
    std::int64_t flip_;  // 0 or all ones: stored key = key ^ flip_
    std::vector<std::int64_t> stored_;
    std::vector<double> qty_;
};

enum class SideId { Bids, Asks };

// What the events do to one side of a book, applied to `side`: a snapshot
// empties it, then the event's levels for that side follow in list order.
// The events before the last snapshot are skipped, as in OrderBook::replay.
// The two sides never interact, so they can be replayed apart.
void replay_side(BookSide& side, SideId which, std::span<const BookEvent> events);

class OrderBook {
public:
    using Side = BookSide;

    // A snapshot first empties both sides; then bids, then asks, level by
    // level: a zero quantity removes the price, any other replaces it.
    void apply(const BookEvent& event);

    // Applies the events in order. A snapshot empties the book, so the events
    // before the last snapshot cannot change the outcome and are skipped.
    void replay(std::span<const BookEvent> events);

    const Side& bids() const noexcept { return bids_; }
    const Side& asks() const noexcept { return asks_; }

private:
    Side bids_{BookSide::Best::Highest};
    Side asks_{BookSide::Best::Lowest};
};

// For every band [lo[l], hi[l]) adds to out[l] the quantities of the side's
// entries with lo <= price < hi, in ascending price order, starting from the
// value already in out[l]. A NaN price lies in no band. Equal in every bit
// to testing every entry against every band.
void add_band_sums(const SideView& side, std::span<const double> lo, std::span<const double> hi,
                   std::span<double> out);

}  // namespace ovra
