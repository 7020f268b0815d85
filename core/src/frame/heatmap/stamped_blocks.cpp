// Sorted blocks of stamped entries: search, insert, removal, split and merge.
#include "frame/heatmap/stamped_blocks.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "panels/key_search.h"

namespace ovra {

void StampedBlocks::clear() noexcept {
    free_.clear();
    for (std::size_t b = pool_.size(); b > 0; --b) free_.push_back(static_cast<std::uint32_t>(b - 1));
    order_.clear();
    lasts_.clear();
    size_ = 0;
}

std::uint32_t StampedBlocks::new_block() {
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
std::size_t StampedBlocks::block_for(std::int64_t stored) const noexcept {
    const std::size_t n = lasts_.size();
    if (n == 1 || lasts_[n - 2] < stored) return n - 1;
    return lower_index(std::span(lasts_.data(), n - 1), stored);
}

void StampedBlocks::apply(std::int64_t stored, double qty, std::uint32_t writer) {
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

void StampedBlocks::insert_at(std::size_t b, std::uint32_t i, std::int64_t stored, double qty, std::uint32_t writer) {
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
void StampedBlocks::split(std::size_t b) {
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

void StampedBlocks::erase_at(std::size_t b, std::uint32_t i) {
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
void StampedBlocks::append_run(const std::int64_t* stored, const double* qty, const std::uint32_t* stamp,
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

void StampedBlocks::append_to(std::vector<std::int64_t>& stored, std::vector<double>& qty,
                              std::vector<std::uint32_t>& stamp) const {
    for (const std::uint32_t id : order_) {
        const Block& block = pool_[id];
        stored.insert(stored.end(), block.stored, block.stored + block.n);
        qty.insert(qty.end(), block.qty, block.qty + block.n);
        stamp.insert(stamp.end(), block.stamp, block.stamp + block.n);
    }
}

std::size_t StampedBlocks::memory_bytes() const noexcept {
    return pool_.capacity() * sizeof(Block) + (free_.capacity() + order_.capacity()) * sizeof(std::uint32_t) +
           lasts_.capacity() * sizeof(std::int64_t);
}

}  // namespace ovra
