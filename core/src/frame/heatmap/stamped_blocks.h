// Entries of a stamped book side kept in sorted blocks of a few dozen: the
// part of a side whose prices do not sit on the tick grid of the paged
// part (odd prices, signed zeros, NaN, far outliers). An insert or removal
// moves at most one block's entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ovra {

class StampedBlocks {
public:
    // `stored` is the side's stored key of the price (ascending, best last).
    // A zero quantity removes the entry, any other replaces it and stamps it.
    void apply(std::int64_t stored, double qty, std::uint32_t writer);
    void clear() noexcept;

    std::size_t size() const noexcept { return size_; }
    // Appends the entries in ascending stored order.
    void append_to(std::vector<std::int64_t>& stored, std::vector<double>& qty,
                   std::vector<std::uint32_t>& stamp) const;
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

    std::size_t block_for(std::int64_t stored) const noexcept;
    std::uint32_t new_block();
    void insert_at(std::size_t b, std::uint32_t i, std::int64_t stored, double qty, std::uint32_t writer);
    void erase_at(std::size_t b, std::uint32_t i);
    void split(std::size_t b);
    void append_run(const std::int64_t* stored, const double* qty, const std::uint32_t* stamp, std::size_t n);

    std::vector<Block> pool_;           // blocks in no particular order
    std::vector<std::uint32_t> free_;   // unused blocks of the pool
    std::vector<std::uint32_t> order_;  // the blocks in key order, none empty
    std::vector<std::int64_t> lasts_;   // last stored key of each ordered block
    std::size_t size_ = 0;
};

}  // namespace ovra
