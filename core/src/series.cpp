// Storage of Series: the C allocator's blocks. Growing a large block moves
// its pages (the allocator remaps them) rather than copying the records, and
// the allocator keeps freed memory at hand for the next large allocation of
// the process (the value tree of a command text, the next dataset).
#include "series.h"

#include <cstdlib>

namespace ovra::series_blocks {

std::size_t rounded(std::size_t bytes) noexcept { return (bytes + 63) / 64 * 64; }

void* allocate(std::size_t bytes) noexcept { return std::malloc(bytes); }

void* resize(void* block, std::size_t, std::size_t new_bytes) noexcept { return std::realloc(block, new_bytes); }

void release(void* block, std::size_t) noexcept { std::free(block); }

}  // namespace ovra::series_blocks
