// Block growth of the tree arena.
#include "json/arena.h"

#include <algorithm>

namespace ovra::json {

void Arena::grow(std::size_t bytes) {
    // Blocks double up to 1 MiB so that small documents stay small and large
    // ones need few allocations; an oversized request gets a block of its own.
    constexpr std::size_t kLargestBlock = std::size_t{1} << 20;
    const std::size_t size = std::max(bytes, next_block_);
    blocks_.push_back(std::make_unique_for_overwrite<std::byte[]>(size));
    cursor_ = blocks_.back().get();
    left_ = size;
    next_block_ = std::min(next_block_ * 2, kLargestBlock);
}

}  // namespace ovra::json
