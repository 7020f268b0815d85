// One side of a book replayed over the whole stored series, every entry
// stamped with the index of the event that last wrote it. The book a window
// replays from its first event i0 is, at every event index, this side
// restricted to the entries stamped >= i0: an entry written before i0 and
// never touched again is not in the window's book, while every write,
// removal and snapshot at or after i0 acts on both alike.
//
// A live side (StampedSide) is kept in sorted blocks so that an update deep
// in the book moves few entries; a side kept between frames (FrozenSide) is
// one flat sorted run, ready for band sums.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "dataset.h"
#include "panels/book_side.h"

namespace ovra {

// Stored keys are total_order_key(price) ^ flip, ascending, so the best
// price is last on both sides: bids keep the key (flip 0), asks invert it.
enum class SideBest { Highest, Lowest };

class FrozenSide {
public:
    explicit FrozenSide(SideBest best = SideBest::Highest) noexcept
        : flip_(best == SideBest::Highest ? 0 : -1) {}

    std::size_t size() const noexcept { return stored_.size(); }
    std::int64_t flip() const noexcept { return flip_; }
    // The smallest stamp held (UINT32_MAX when empty): a window starting at
    // or before it sees the whole side.
    std::uint32_t oldest_stamp() const noexcept;
    // Whether an entry stamped >= from is held.
    bool holds_from(std::uint32_t from) const noexcept;
    // Total-order key of the best price among the entries stamped >= from;
    // holds_from(from) must be true.
    std::int64_t best_key_from(std::uint32_t from) const noexcept;

    // The whole side, or its entries stamped >= from copied into the
    // scratch arrays and viewed there.
    SideView view() const noexcept { return {stored_, qty_, flip_}; }
    SideView view_from(std::uint32_t from, std::vector<std::int64_t>& stored, std::vector<double>& qty) const;

    std::size_t memory_bytes() const noexcept;

private:
    friend class StampedSide;

    std::int64_t flip_;
    std::vector<std::int64_t> stored_;
    std::vector<double> qty_;
    std::vector<std::uint32_t> stamp_;
};

class StampedSide {
public:
    explicit StampedSide(SideBest best) noexcept : flip_(best == SideBest::Highest ? 0 : -1) {}

    // A diff's level: a zero quantity (0.0 or -0.0) removes the price, any
    // other replaces it and stamps it with `writer`.
    void apply(double price, double qty, std::uint32_t writer);
    // A snapshot's side: empties the side, then applies `levels` in order.
    void load(std::span<const BookLevel> levels, std::uint32_t writer);

    std::size_t size() const noexcept { return size_; }
    FrozenSide freeze() const;
    // Becomes the side `frozen` was made of.
    void thaw(const FrozenSide& frozen);

    std::size_t memory_bytes() const noexcept;

private:
    // Entries per block: an insert or removal moves at most this many.
    static constexpr std::uint32_t kBlock = 64;
    struct Block {
        std::uint32_t n = 0;
        std::int64_t stored[kBlock];
        double qty[kBlock];
        std::uint32_t stamp[kBlock];
    };
    struct Written {
        std::int64_t stored;
        std::uint32_t order;  // position in the snapshot's list
        double qty;
    };

    void clear() noexcept;
    std::size_t block_for(std::int64_t stored) const noexcept;
    std::uint32_t new_block();
    void insert_at(std::size_t b, std::uint32_t i, std::int64_t stored, double qty, std::uint32_t writer);
    void erase_at(std::size_t b, std::uint32_t i);
    void split(std::size_t b);
    void append_run(const std::int64_t* stored, const double* qty, const std::uint32_t* stamp, std::size_t n);

    std::int64_t flip_;
    std::vector<Block> pool_;           // blocks in no particular order
    std::vector<std::uint32_t> free_;   // unused blocks of the pool
    std::vector<std::uint32_t> order_;  // the blocks in key order, none empty
    std::vector<std::int64_t> lasts_;   // last stored key of each ordered block
    std::size_t size_ = 0;
    std::vector<Written> scratch_;  // a snapshot's levels while they are sorted
};

// Both sides of a live replay, stamped alike.
struct StampedBook {
    StampedSide bids{SideBest::Highest};
    StampedSide asks{SideBest::Lowest};

    // Applies event number `index`: a snapshot empties both sides first.
    void apply(const BookEvent& event, std::uint32_t index);
    std::size_t memory_bytes() const noexcept { return bids.memory_bytes() + asks.memory_bytes(); }
};

struct FrozenBook {
    FrozenSide bids{SideBest::Highest};
    FrozenSide asks{SideBest::Lowest};

    std::size_t memory_bytes() const noexcept { return bids.memory_bytes() + asks.memory_bytes(); }
    std::uint32_t oldest_stamp() const noexcept;
};

FrozenBook freeze(const StampedBook& book);
void thaw(StampedBook& book, const FrozenBook& frozen);

}  // namespace ovra
