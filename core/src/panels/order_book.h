// A replayed order book: bids and asks, each an ordered map from price to
// quantity keyed by the IEEE total order, so -0.0 and 0.0 are separate
// prices and every NaN pattern has its own place.
#pragma once

#include <cstdint>
#include <map>
#include <memory_resource>
#include <span>

#include "dataset.h"

namespace ovra {

class OrderBook {
public:
    // Key: total_order_key(price); value: quantity.
    using Side = std::pmr::map<std::int64_t, double>;

    OrderBook() : bids_(&nodes_), asks_(&nodes_) {}
    OrderBook(const OrderBook&) = delete;
    OrderBook& operator=(const OrderBook&) = delete;

    // A snapshot first empties both sides; then bids, then asks, level by
    // level: a zero quantity removes the price, any other replaces it.
    void apply(const BookEvent& event);

    // Applies the events in order. A snapshot empties the book, so the events
    // before the last snapshot cannot change the outcome and are skipped.
    void replay(std::span<const BookEvent> events);

    const Side& bids() const noexcept { return bids_; }
    const Side& asks() const noexcept { return asks_; }

private:
    // Nodes of both sides come from one pool: a replay inserts and removes
    // levels millions of times, and a snapshot frees whole sides at once.
    std::pmr::unsynchronized_pool_resource nodes_;
    Side bids_;
    Side asks_;
};

// For every band [lo[l], hi[l]) adds to out[l] the quantities of the side's
// entries with lo <= price < hi, in ascending price order, starting from the
// value already in out[l]. A NaN price lies in no band. Equal in every bit
// to testing every entry against every band.
void add_band_sums(const OrderBook::Side& side, std::span<const double> lo, std::span<const double> hi,
                   std::span<double> out);

}  // namespace ovra
