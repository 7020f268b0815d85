// A replayed order book: bids and asks, each a side keyed by the IEEE total
// order of the price, and the band sums over a side.
#pragma once

#include <span>

#include "dataset.h"
#include "panels/book_side.h"

namespace ovra {

enum class SideId { Bids, Asks };

// What the events do to one side of a book, applied to `side`: a snapshot
// empties it, then the event's levels for that side follow in list order.
// The events before the last snapshot are skipped, as in OrderBook::replay.
// The two sides never interact, so they can be replayed apart.
void replay_side(BookSide& side, SideId which, std::span<const BookEvent> events);

class OrderBook {
public:
    using Side = BookSide;

    // Applies the events in order: a snapshot first empties both sides; then
    // bids, then asks, level by level (a zero quantity removes the price, any
    // other replaces it). The events before the last snapshot cannot change
    // the outcome and are skipped.
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
