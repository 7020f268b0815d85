// One side of a book replayed over the whole stored series, every entry
// stamped with the index of the event that last wrote it. The book a window
// replays from its first event i0 is, at every event index, this side
// restricted to the entries stamped >= i0: an entry written before i0 and
// never touched again is not in the window's book, while every write,
// removal and snapshot at or after i0 acts on both alike.
//
// A live side (StampedSide) is paged by price tick, so that an update
// anywhere in the book costs an index; a side kept between frames
// (FrozenSide) is one flat sorted run, ready for band sums.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "dataset.h"
#include "frame/heatmap/stamped_blocks.h"
#include "numeric.h"
#include "panels/book_side.h"

namespace ovra {

// Stored keys are total_order_key(price) ^ flip, ascending, so the best
// price is last on both sides: bids keep the key (flip 0), asks invert it.
enum class SideBest { Highest, Lowest };

class FrozenSide {
public:
    explicit FrozenSide(SideBest best = SideBest::Highest) noexcept
        : flip_(best == SideBest::Highest ? 0 : -1) {}

    std::size_t size() const noexcept { return size_; }
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
    SideView view() const noexcept { return {stored(), qty(), flip_}; }
    SideView view_from(std::uint32_t from, std::vector<std::int64_t>& stored, std::vector<double>& qty) const;

    // Whether every price held is finite and above zero: band sums over
    // such a side are sums over price ranges, band by band.
    bool plain() const noexcept { return plain_; }
    std::span<const std::int64_t> stored() const noexcept { return {stored_data(), size_}; }
    std::span<const double> qty() const noexcept { return {qty_data(), size_}; }
    std::span<const std::uint32_t> stamps() const noexcept { return {stamp_data(), size_}; }

    std::size_t memory_bytes() const noexcept;
    // Bytes an entry takes: its stored key, quantity and stamp.
    static constexpr std::size_t kEntryBytes = sizeof(std::int64_t) + sizeof(double) + sizeof(std::uint32_t);

private:
    friend class StampedSide;
    bool plain_ = true;

    // Makes room for n entries (the old ones are gone).
    void allocate(std::size_t n);
    std::int64_t* stored_data() const noexcept { return reinterpret_cast<std::int64_t*>(block_.get()); }
    double* qty_data() const noexcept { return reinterpret_cast<double*>(block_.get() + size_ * sizeof(std::int64_t)); }
    std::uint32_t* stamp_data() const noexcept {
        return reinterpret_cast<std::uint32_t*>(block_.get() + size_ * (sizeof(std::int64_t) + sizeof(double)));
    }

    std::int64_t flip_;
    // One allocation a side: the size_ stored keys, then their quantities,
    // then their stamps (a kept book is two allocations, not six).
    std::unique_ptr<std::byte[]> block_;
    std::size_t size_ = 0;
};

// A live side. Prices on the tick grid (price == tick / ticks_per_unit
// exactly, for an integer tick) sit in pages of consecutive ticks found by
// index, so a level change costs no search; any other price goes to a
// small sorted fallback. Whether a price is paged depends only on the pages
// spanned so far, which only grow until the side is cleared, so one price
// always lands in the same place.
class StampedSide {
public:
    StampedSide(SideBest best, double ticks_per_unit) noexcept
        : flip_(best == SideBest::Highest ? 0 : -1), ticks_per_unit_(ticks_per_unit) {}

    // A diff's level: a zero quantity (0.0 or -0.0) removes the price, any
    // other replaces it and stamps it with `writer`.
    void apply(double price, double qty, std::uint32_t writer) {
        if (!apply_held(price, qty, writer)) apply_placed(price, qty, writer);
    }
    // A snapshot's side: empties the side, then applies `levels` in order.
    void load(std::span<const BookLevel> levels, std::uint32_t writer);
    // This side's levels of event number `index`, by the event's kind.
    void apply_event(BookEventKind kind, std::span<const BookLevel> levels, std::uint32_t index) {
        if (kind == BookEventKind::Snapshot) {
            load(levels, index);
            return;
        }
        for (const BookLevel& level : levels) apply(level.price, level.qty, index);
    }

    std::size_t size() const noexcept { return size_ + fallback_.size(); }
    FrozenSide freeze() const;
    // Becomes the side `frozen` was made of.
    void thaw(const FrozenSide& frozen);

    std::size_t memory_bytes() const noexcept;

private:
    static constexpr int kPageBits = 8;
    static constexpr std::int64_t kPageTicks = std::int64_t{1} << kPageBits;
    // Pages one side may span: beyond, prices go to the fallback.
    static constexpr std::int64_t kMaxPages = 4096;
    struct Page {
        std::uint64_t held[kPageTicks / 64];
        std::int64_t stored[kPageTicks];
        double qty[kPageTicks];
        std::uint32_t stamp[kPageTicks];
        std::uint32_t count;
    };

    void clear() noexcept;
    // The nearest tick of price * ticks_per_unit_ (halves away from zero),
    // false when out of the paged range (NaN too).
    bool nearest_tick(double price, std::int64_t& tick) const noexcept;
    // Whether `tick` gives back `price` bit for bit, so the price sits on
    // the tick grid.
    bool on_grid(double price, std::int64_t tick) const noexcept {
        return std::bit_cast<std::uint64_t>(static_cast<double>(tick) / ticks_per_unit_) ==
               std::bit_cast<std::uint64_t>(price);
    }
    bool tick_of(double price, std::int64_t& tick) const noexcept;
    // Applies a level whose price is on the tick grid and whose page is
    // made; false otherwise.
    bool apply_held(double price, double qty, std::uint32_t writer) noexcept;
    // Any level: the price checked on the tick grid and placed.
    void apply_placed(double price, double qty, std::uint32_t writer);
    // The page of page number `number`, made (and the span grown) when
    // `make`; null when absent, or outside the span and not made.
    Page* page_for(std::int64_t number, bool make);
    bool within_reach(std::int64_t number) const noexcept;
    void apply_stored(std::int64_t stored, double price, double qty, std::uint32_t writer);
    // Writes the size_ paged entries into the three arrays.
    void write_paged(std::int64_t* stored, double* qty, std::uint32_t* stamp) const;

    std::int64_t flip_;
    double ticks_per_unit_;
    std::vector<std::unique_ptr<Page>> pages_;  // page numbers first_page_ .. first_page_ + size - 1
    std::int64_t first_page_ = 0;
    std::size_t size_ = 0;  // paged entries
    StampedBlocks fallback_;
};

inline bool StampedSide::nearest_tick(double price, std::int64_t& tick) const noexcept {
    // Ticks stay far below 2^53, where distinct ticks give distinct prices.
    constexpr double kMaxTick = 1125899906842624.0;  // 2^50
    const double x = price * ticks_per_unit_;
    if (!(x > -kMaxTick && x < kMaxTick)) return false;  // NaN too
    tick = static_cast<std::int64_t>(x < 0.0 ? x - 0.5 : x + 0.5);
    return true;
}

inline bool StampedSide::apply_held(double price, double qty, std::uint32_t writer) noexcept {
    std::int64_t tick;
    if (!nearest_tick(price, tick)) return false;
    const auto at = static_cast<std::uint64_t>((tick >> kPageBits) - first_page_);
    if (at >= pages_.size()) return false;
    Page* page = pages_[at].get();
    if (!page || !on_grid(price, tick)) return false;
    // On the grid and its page made: held or not, the slot takes the level
    // without a branch (the arrays of a slot not held are never read).
    const auto slot = static_cast<std::size_t>(tick & (kPageTicks - 1));
    std::uint64_t& word = page->held[slot >> 6];
    const unsigned shift = slot & 63;
    const std::uint64_t was = (word >> shift) & 1;
    const std::uint64_t now = qty != 0.0;
    word = (word & ~(std::uint64_t{1} << shift)) | (now << shift);
    page->count = static_cast<std::uint32_t>(page->count + now - was);
    size_ = size_ + now - was;
    page->stored[slot] = total_order_key(price) ^ flip_;
    page->qty[slot] = qty;
    page->stamp[slot] = writer;
    return true;
}

// The tick grid most prices of the series sit on: the smallest power of
// ten ticks per unit (1 to 10^8) that holds every sampled price, else 100.
double choose_ticks_per_unit(std::span<const BookEvent> events) noexcept;

// Both sides of a live replay, stamped alike.
struct StampedBook {
    explicit StampedBook(double ticks_per_unit = 100.0) noexcept
        : bids(SideBest::Highest, ticks_per_unit), asks(SideBest::Lowest, ticks_per_unit) {}

    StampedSide bids;
    StampedSide asks;

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
