// Stamped book sides: sorted blocks while replaying, flat runs when kept.
#include "frame/heatmap/stamped_side.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "panels/key_search.h"
#include "numeric.h"

namespace ovra {

std::uint32_t FrozenSide::oldest_stamp() const noexcept {
    std::uint32_t oldest = std::numeric_limits<std::uint32_t>::max();
    for (const std::uint32_t s : stamp_) oldest = std::min(oldest, s);
    return oldest;
}

bool FrozenSide::holds_from(std::uint32_t from) const noexcept {
    return std::any_of(stamp_.rbegin(), stamp_.rend(), [from](std::uint32_t s) { return s >= from; });
}

std::int64_t FrozenSide::best_key_from(std::uint32_t from) const noexcept {
    std::size_t i = stored_.size();
    while (i > 0 && stamp_[i - 1] < from) --i;
    return stored_[i - 1] ^ flip_;
}

SideView FrozenSide::view_from(std::uint32_t from, std::vector<std::int64_t>& stored,
                               std::vector<double>& qty) const {
    stored.clear();
    qty.clear();
    for (std::size_t i = 0; i < stored_.size(); ++i) {
        if (stamp_[i] < from) continue;
        stored.push_back(stored_[i]);
        qty.push_back(qty_[i]);
    }
    return {stored, qty, flip_};
}

std::size_t FrozenSide::memory_bytes() const noexcept {
    return sizeof(FrozenSide) + stored_.capacity() * sizeof(std::int64_t) + qty_.capacity() * sizeof(double) +
           stamp_.capacity() * sizeof(std::uint32_t);
}

void StampedSide::clear() noexcept {
    free_.clear();
    for (std::size_t b = pool_.size(); b > 0; --b) free_.push_back(static_cast<std::uint32_t>(b - 1));
    order_.clear();
    lasts_.clear();
    size_ = 0;
}

std::uint32_t StampedSide::new_block() {
    if (free_.empty()) {
        pool_.emplace_back();
        return static_cast<std::uint32_t>(pool_.size() - 1);
    }
    const std::uint32_t id = free_.back();
    free_.pop_back();
    pool_[id].n = 0;
    return id;
}

// The ordered block holding `stored` or where it would go: the first whose
// last key is >= it, or the last block when there is none. Updates mostly
// land near the best price, in the last block.
std::size_t StampedSide::block_for(std::int64_t stored) const noexcept {
    const std::size_t n = lasts_.size();
    if (n == 1 || lasts_[n - 2] < stored) return n - 1;
    return lower_index(std::span(lasts_.data(), n - 1), stored);
}

void StampedSide::apply(double price, double qty, std::uint32_t writer) {
    const std::int64_t stored = total_order_key(price) ^ flip_;
    const bool removes = qty == 0.0;
    if (order_.empty()) {
        if (!removes) append_run(&stored, &qty, &writer, 1);
        return;
    }
    const std::size_t b = block_for(stored);
    Block& block = pool_[order_[b]];
    const auto i = static_cast<std::uint32_t>(lower_index_from_back(std::span(block.stored, block.n), stored));
    const bool present = i < block.n && block.stored[i] == stored;
    if (removes) {
        if (present) erase_at(b, i);
    } else if (present) {
        block.qty[i] = qty;
        block.stamp[i] = writer;
    } else {
        insert_at(b, i, stored, qty, writer);
    }
}

void StampedSide::insert_at(std::size_t b, std::uint32_t i, std::int64_t stored, double qty, std::uint32_t writer) {
    if (pool_[order_[b]].n == kBlock) {
        split(b);
        const std::uint32_t lower_n = pool_[order_[b]].n;
        if (i > lower_n) {
            ++b;
            i -= lower_n;
        }
    }
    Block& block = pool_[order_[b]];
    const std::uint32_t tail = block.n - i;
    std::memmove(block.stored + i + 1, block.stored + i, tail * sizeof(std::int64_t));
    std::memmove(block.qty + i + 1, block.qty + i, tail * sizeof(double));
    std::memmove(block.stamp + i + 1, block.stamp + i, tail * sizeof(std::uint32_t));
    block.stored[i] = stored;
    block.qty[i] = qty;
    block.stamp[i] = writer;
    ++block.n;
    lasts_[b] = block.stored[block.n - 1];
    ++size_;
}

// Moves the upper half of ordered block b into a new block after it.
void StampedSide::split(std::size_t b) {
    const std::uint32_t id = new_block();  // may move the pool: take references after
    Block& lower = pool_[order_[b]];
    Block& upper = pool_[id];
    const std::uint32_t half = lower.n / 2;
    upper.n = lower.n - half;
    std::memcpy(upper.stored, lower.stored + half, upper.n * sizeof(std::int64_t));
    std::memcpy(upper.qty, lower.qty + half, upper.n * sizeof(double));
    std::memcpy(upper.stamp, lower.stamp + half, upper.n * sizeof(std::uint32_t));
    lower.n = half;
    lasts_[b] = lower.stored[half - 1];
    order_.insert(order_.begin() + static_cast<std::ptrdiff_t>(b) + 1, id);
    lasts_.insert(lasts_.begin() + static_cast<std::ptrdiff_t>(b) + 1, upper.stored[upper.n - 1]);
}

void StampedSide::erase_at(std::size_t b, std::uint32_t i) {
    Block& block = pool_[order_[b]];
    const std::uint32_t tail = block.n - i - 1;
    std::memmove(block.stored + i, block.stored + i + 1, tail * sizeof(std::int64_t));
    std::memmove(block.qty + i, block.qty + i + 1, tail * sizeof(double));
    std::memmove(block.stamp + i, block.stamp + i + 1, tail * sizeof(std::uint32_t));
    --block.n;
    --size_;
    if (block.n == 0) {
        free_.push_back(order_[b]);
        order_.erase(order_.begin() + static_cast<std::ptrdiff_t>(b));
        lasts_.erase(lasts_.begin() + static_cast<std::ptrdiff_t>(b));
        return;
    }
    lasts_[b] = block.stored[block.n - 1];
    // Small neighbours merge, so that the blocks stay few.
    std::size_t into = b;
    if (b + 1 < order_.size() && block.n + pool_[order_[b + 1]].n <= kBlock / 2) {
        into = b;
    } else if (b > 0 && block.n + pool_[order_[b - 1]].n <= kBlock / 2) {
        into = b - 1;
    } else {
        return;
    }
    Block& lower = pool_[order_[into]];
    const Block& upper = pool_[order_[into + 1]];
    std::memcpy(lower.stored + lower.n, upper.stored, upper.n * sizeof(std::int64_t));
    std::memcpy(lower.qty + lower.n, upper.qty, upper.n * sizeof(double));
    std::memcpy(lower.stamp + lower.n, upper.stamp, upper.n * sizeof(std::uint32_t));
    lower.n += upper.n;
    lasts_[into] = lower.stored[lower.n - 1];
    free_.push_back(order_[into + 1]);
    order_.erase(order_.begin() + static_cast<std::ptrdiff_t>(into) + 1);
    lasts_.erase(lasts_.begin() + static_cast<std::ptrdiff_t>(into) + 1);
}

// Appends sorted entries, all above the side's, in blocks three quarters
// full (room for inserts before the next split).
void StampedSide::append_run(const std::int64_t* stored, const double* qty, const std::uint32_t* stamp,
                             std::size_t n) {
    constexpr std::uint32_t fill = kBlock * 3 / 4;
    std::size_t done = 0;
    while (done < n) {
        const auto take = static_cast<std::uint32_t>(std::min<std::size_t>(fill, n - done));
        const std::uint32_t id = new_block();
        Block& block = pool_[id];
        std::memcpy(block.stored, stored + done, take * sizeof(std::int64_t));
        std::memcpy(block.qty, qty + done, take * sizeof(double));
        std::memcpy(block.stamp, stamp + done, take * sizeof(std::uint32_t));
        block.n = take;
        order_.push_back(id);
        lasts_.push_back(block.stored[take - 1]);
        done += take;
    }
    size_ += n;
}

// Applying the levels one by one would insert a snapshot listed best first
// at the front of the side level after level; sorting them once gives the
// same side: for each price the last listed level decides, a zero leaving
// the price out.
void StampedSide::load(std::span<const BookLevel> levels, std::uint32_t writer) {
    clear();
    scratch_.clear();
    scratch_.reserve(levels.size());
    for (std::size_t i = 0; i < levels.size(); ++i) {
        scratch_.push_back(
            Written{total_order_key(levels[i].price) ^ flip_, static_cast<std::uint32_t>(i), levels[i].qty});
    }
    std::sort(scratch_.begin(), scratch_.end(), [](const Written& a, const Written& b) {
        return a.stored != b.stored ? a.stored < b.stored : a.order < b.order;
    });
    FrozenSide run;
    for (std::size_t i = 0; i < scratch_.size(); ++i) {
        const Written& w = scratch_[i];
        if (i + 1 < scratch_.size() && scratch_[i + 1].stored == w.stored) continue;  // listed again later
        if (w.qty == 0.0) continue;
        run.stored_.push_back(w.stored);
        run.qty_.push_back(w.qty);
        run.stamp_.push_back(writer);
    }
    append_run(run.stored_.data(), run.qty_.data(), run.stamp_.data(), run.size());
}

FrozenSide StampedSide::freeze() const {
    FrozenSide frozen(flip_ == 0 ? SideBest::Highest : SideBest::Lowest);
    frozen.stored_.resize(size_);
    frozen.qty_.resize(size_);
    frozen.stamp_.resize(size_);
    std::size_t at = 0;
    for (const std::uint32_t id : order_) {
        const Block& block = pool_[id];
        std::memcpy(frozen.stored_.data() + at, block.stored, block.n * sizeof(std::int64_t));
        std::memcpy(frozen.qty_.data() + at, block.qty, block.n * sizeof(double));
        std::memcpy(frozen.stamp_.data() + at, block.stamp, block.n * sizeof(std::uint32_t));
        at += block.n;
    }
    return frozen;
}

void StampedSide::thaw(const FrozenSide& frozen) {
    clear();
    append_run(frozen.stored_.data(), frozen.qty_.data(), frozen.stamp_.data(), frozen.size());
}

std::size_t StampedSide::memory_bytes() const noexcept {
    return pool_.capacity() * sizeof(Block) + (free_.capacity() + order_.capacity()) * sizeof(std::uint32_t) +
           lasts_.capacity() * sizeof(std::int64_t) + scratch_.capacity() * sizeof(Written);
}

void StampedBook::apply(const BookEvent& event, std::uint32_t index) {
    if (event.kind == BookEventKind::Snapshot) {
        bids.load(event.bids, index);
        asks.load(event.asks, index);
        return;
    }
    for (const BookLevel& level : event.bids) bids.apply(level.price, level.qty, index);
    for (const BookLevel& level : event.asks) asks.apply(level.price, level.qty, index);
}

std::uint32_t FrozenBook::oldest_stamp() const noexcept {
    return std::min(bids.oldest_stamp(), asks.oldest_stamp());
}

FrozenBook freeze(const StampedBook& book) { return {book.bids.freeze(), book.asks.freeze()}; }

void thaw(StampedBook& book, const FrozenBook& frozen) {
    book.bids.thaw(frozen.bids);
    book.asks.thaw(frozen.asks);
}

}  // namespace ovra
