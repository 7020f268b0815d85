// A book side in sorted blocks: search, insert, removal, split and merge.
#include "panels/book_side.h"

#include <algorithm>
#include <utility>

#include "numeric.h"
#include "panels/key_search.h"

namespace ovra {

std::size_t SideView::lower_bound(std::int64_t key) const noexcept {
    if (flip == 0) return lower_index(stored, key);
    // Stored descending in key: the entries with key >= k are the stored
    // prefix with ~key <= ~k, which ends the ascending order.
    return stored.size() - upper_index(stored, ~key);
}

// Galloping: steps of 1, 2, 4, ... away from the hint bracket the answer,
// then a binary search inside the bracket. Every position below lo has a
// key < key; hi is the size or a position whose key is >= key.
std::size_t SideView::lower_bound_near(std::int64_t key, std::size_t hint) const noexcept {
    const std::size_t n = size();
    std::size_t lo = 0;
    std::size_t hi = std::min(hint, n);
    std::size_t step = 1;
    if (hi < n && key_at(hi) < key) {
        lo = hi + 1;
        std::size_t probe = lo;
        while (probe < n && key_at(probe) < key) {
            lo = probe + 1;
            probe += step;
            step *= 2;
        }
        hi = std::min(probe, n);
    } else {
        while (hi > 0) {
            const std::size_t probe = hi > step ? hi - step : 0;
            if (key_at(probe) < key) {
                lo = probe + 1;
                break;
            }
            hi = probe;
            step *= 2;
        }
    }
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (key_at(mid) < key) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

void BookSide::clear() noexcept {
    blocks_.clear();
    lasts_.clear();
    size_ = 0;
}

// The block holding `stored` or where it would go: the first whose last key
// is >= it, or the last block when there is none.
std::size_t BookSide::block_for(std::int64_t stored) const noexcept {
    const std::size_t n = lasts_.size();
    if (n == 1 || lasts_[n - 2] < stored) return n - 1;
    return lower_index(std::span(lasts_.data(), n - 1), stored);
}

void BookSide::apply(double price, double qty) {
    const std::int64_t stored = total_order_key(price) ^ flip_;
    const bool removes = qty == 0.0;
    if (blocks_.empty()) {
        if (!removes) insert_at(0, 0, stored, qty);
        return;
    }
    const std::size_t b = block_for(stored);
    Block& block = blocks_[b];
    const std::size_t i = lower_index_from_back(block.stored, stored);
    const bool present = i < block.stored.size() && block.stored[i] == stored;
    if (removes) {
        if (present) erase_at(b, i);
    } else if (present) {
        block.qty[i] = qty;
    } else {
        insert_at(b, i, stored, qty);
    }
}

void BookSide::insert_at(std::size_t b, std::size_t i, std::int64_t stored, double qty) {
    if (blocks_.empty()) {
        blocks_.push_back(Block{{stored}, {qty}});
        lasts_.push_back(stored);
        size_ = 1;
        return;
    }
    Block& block = blocks_[b];
    const auto at = static_cast<std::ptrdiff_t>(i);
    block.stored.insert(block.stored.begin() + at, stored);
    block.qty.insert(block.qty.begin() + at, qty);
    lasts_[b] = block.stored.back();
    ++size_;
    if (block.stored.size() <= kMaxBlock) return;
    // Split in halves; the upper half becomes the next block.
    const auto half = static_cast<std::ptrdiff_t>(block.stored.size() / 2);
    Block upper{{block.stored.begin() + half, block.stored.end()}, {block.qty.begin() + half, block.qty.end()}};
    block.stored.resize(static_cast<std::size_t>(half));
    block.qty.resize(static_cast<std::size_t>(half));
    lasts_[b] = block.stored.back();
    const std::int64_t upper_last = upper.stored.back();
    blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(b) + 1, std::move(upper));
    lasts_.insert(lasts_.begin() + static_cast<std::ptrdiff_t>(b) + 1, upper_last);
}

void BookSide::erase_at(std::size_t b, std::size_t i) {
    Block& block = blocks_[b];
    const auto at = static_cast<std::ptrdiff_t>(i);
    block.stored.erase(block.stored.begin() + at);
    block.qty.erase(block.qty.begin() + at);
    --size_;
    if (block.stored.empty()) {
        blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(b));
        lasts_.erase(lasts_.begin() + static_cast<std::ptrdiff_t>(b));
        return;
    }
    lasts_[b] = block.stored.back();
    // Small neighbours merge, so that the blocks stay few.
    if (b + 1 < blocks_.size() && block.stored.size() + blocks_[b + 1].stored.size() <= kMaxBlock / 2) {
        merge_with_next(b);
    } else if (b > 0 && block.stored.size() + blocks_[b - 1].stored.size() <= kMaxBlock / 2) {
        merge_with_next(b - 1);
    }
}

void BookSide::merge_with_next(std::size_t b) {
    Block& block = blocks_[b];
    Block& next = blocks_[b + 1];
    block.stored.insert(block.stored.end(), next.stored.begin(), next.stored.end());
    block.qty.insert(block.qty.end(), next.qty.begin(), next.qty.end());
    lasts_[b] = block.stored.back();
    blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(b) + 1);
    lasts_.erase(lasts_.begin() + static_cast<std::ptrdiff_t>(b) + 1);
}

void BookSide::append_to(std::vector<std::int64_t>& stored, std::vector<double>& qty) const {
    for (const Block& block : blocks_) {
        stored.insert(stored.end(), block.stored.begin(), block.stored.end());
        qty.insert(qty.end(), block.qty.begin(), block.qty.end());
    }
}

}  // namespace ovra
