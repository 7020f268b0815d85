// One side of a replayed order book, keyed by the IEEE total order of the
// price (so -0.0 and 0.0 are separate prices and every NaN pattern has its
// own place), and a flat read-only view of one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

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
    // The same position, searched outward from `hint` (any position): when
    // the answer lies near it, only a few entries around it are read.
    std::size_t lower_bound_near(std::int64_t key, std::size_t hint) const noexcept;

private:
    std::size_t storage_index(std::size_t i) const noexcept { return flip ? stored.size() - 1 - i : i; }
};

// One side of a book: stored keys (total_order_key of the price, ^ flip) and
// quantities, ascending, cut into blocks of at most kMaxBlock entries. Most
// updates land near the best price, which is stored last, so the last block
// is searched first and from its end, and an insert or removal there moves
// only the few entries behind it; the blocks keep a deep book with updates
// anywhere (and a snapshot listed best first) from moving the whole side on
// every change. Bids are stored in ascending key order, asks with every key
// bit-inverted (~key), which reverses their order and so also puts the
// lowest ask last.
class BookSide {
public:
    enum class Best { Highest, Lowest };

    explicit BookSide(Best best) noexcept : flip_(best == Best::Highest ? 0 : -1) {}

    // A zero quantity (0.0 or -0.0) removes the price, any other replaces it.
    void apply(double price, double qty);
    void clear() noexcept;

    bool empty() const noexcept { return size_ == 0; }
    std::size_t size() const noexcept { return size_; }
    // The best price's key: the highest bid or the lowest ask (not empty).
    std::int64_t best_key() const noexcept { return lasts_.back() ^ flip_; }
    std::int64_t flip() const noexcept { return flip_; }

    // Appends the stored keys and quantities, in stored order: with flip(),
    // the arrays then make a SideView of this side.
    void append_to(std::vector<std::int64_t>& stored, std::vector<double>& qty) const;

private:
    struct Block {
        std::vector<std::int64_t> stored;
        std::vector<double> qty;
    };
    static constexpr std::size_t kMaxBlock = 256;

    std::size_t block_for(std::int64_t stored) const noexcept;
    void insert_at(std::size_t b, std::size_t i, std::int64_t stored, double qty);
    void erase_at(std::size_t b, std::size_t i);
    void merge_with_next(std::size_t b);

    std::int64_t flip_;  // 0 or all ones: stored key = key ^ flip_
    std::vector<Block> blocks_;        // none empty, in key order
    std::vector<std::int64_t> lasts_;  // lasts_[b] = blocks_[b].stored.back()
    std::size_t size_ = 0;
};

}  // namespace ovra
