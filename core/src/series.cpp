// Storage of Series. Small blocks come from the C allocator. A large block is
// a mapping of its own, advised to be backed by huge pages: a series written
// record after record then costs one page fault per 2 MiB instead of one per
// 4 KiB, growing and trimming move or cut its pages (the mapping is remapped,
// never copied), and freeing it gives the memory straight back.
#include "series.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

namespace ovra::series_blocks {

namespace {

// From this size on a block is a mapping (a growing series jumps from here
// to 32 MiB); only a smaller one is copied when it changes kind.
constexpr std::size_t kMappedBytes = std::size_t{1} << 20;
constexpr std::size_t kPageBytes = 4096;
constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

std::size_t round_up(std::size_t bytes, std::size_t unit) noexcept { return (bytes + unit - 1) / unit * unit; }

// `bytes` of fresh memory starting at a huge-page boundary: huge pages then
// fill the block from its first byte, and move whole when its pages move to
// another such boundary (an unaligned move would split them).
void* aligned_mapping(std::size_t bytes) noexcept {
    const std::size_t padded = bytes + kHugePageBytes;
    void* raw = ::mmap(nullptr, padded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const auto aligned = static_cast<std::uintptr_t>(round_up(start, kHugePageBytes));
    if (aligned > start) ::munmap(raw, aligned - start);
    const std::uintptr_t end = start + padded;
    if (end > aligned + bytes) ::munmap(reinterpret_cast<void*>(aligned + bytes), end - (aligned + bytes));
    return reinterpret_cast<void*>(aligned);
}

void* map_block(std::size_t bytes, Pages pages) noexcept {
    void* block = aligned_mapping(bytes);
    if (block == nullptr) return nullptr;
    // Only advice: without huge pages the block works the same, page by page.
    if (pages == Pages::Huge) (void)::madvise(block, bytes, MADV_HUGEPAGE);
    return block;
}

// A mapping grown or cut: in place when the addresses after it are free,
// else moved whole to a fresh huge-page boundary (keeping its advice).
void* remapped(void* block, std::size_t old_bytes, std::size_t new_bytes) noexcept {
    void* same = ::mremap(block, old_bytes, new_bytes, 0);
    if (same != MAP_FAILED) return same;
    void* area = aligned_mapping(new_bytes);
    if (area == nullptr) return nullptr;
    void* moved = ::mremap(block, old_bytes, new_bytes, MREMAP_MAYMOVE | MREMAP_FIXED, area);
    if (moved == MAP_FAILED) {
        ::munmap(area, new_bytes);
        return nullptr;
    }
    return moved;
}

// A block of the other kind, holding the bytes of `block` that fit it.
void* moved_block(void* block, std::size_t old_bytes, std::size_t new_bytes, Pages pages) noexcept {
    void* moved = allocate(new_bytes, pages);
    if (moved == nullptr) return nullptr;
    std::memcpy(moved, block, old_bytes < new_bytes ? old_bytes : new_bytes);
    release(block, old_bytes);
    return moved;
}

}  // namespace

bool is_mapped(std::size_t bytes) noexcept { return bytes >= kMappedBytes; }

std::size_t rounded(std::size_t bytes) noexcept {
    // Whole pages: huge pages back the aligned 2 MiB spans inside a mapping,
    // so a mapping's last pages hold memory only where records were written.
    if (is_mapped(bytes)) return (bytes + kPageBytes - 1) / kPageBytes * kPageBytes;
    return (bytes + 63) / 64 * 64;
}

void* allocate(std::size_t bytes, Pages pages) noexcept {
    return is_mapped(bytes) ? map_block(bytes, pages) : std::malloc(bytes);
}

void* resize(void* block, std::size_t old_bytes, std::size_t new_bytes, Pages pages) noexcept {
    if (is_mapped(old_bytes) != is_mapped(new_bytes)) return moved_block(block, old_bytes, new_bytes, pages);
    if (!is_mapped(new_bytes)) return std::realloc(block, new_bytes);
    return remapped(block, old_bytes, new_bytes);
}

bool splice(void*& head, std::size_t& head_bytes, std::size_t head_used, void* tail, std::size_t tail_bytes,
            std::size_t tail_used, std::size_t record_bytes, std::size_t& offset) noexcept {
    // A whole number of huge pages before the tail keeps its huge pages
    // whole when they move; the gap holds memory only where the head wrote.
    offset = round_up(head_used, kHugePageBytes);
    if (offset % record_bytes != 0) return false;  // the tail would not start at a record
    const std::size_t moved = round_up(tail_used, kPageBytes);
    const std::size_t needed = offset + moved;
    if (needed > head_bytes) {
        void* grown = remapped(head, head_bytes, needed);
        if (grown == nullptr) return false;
        head = grown;
        head_bytes = needed;
    }
    void* target = static_cast<char*>(head) + offset;
    if (::mremap(tail, moved, moved, MREMAP_MAYMOVE | MREMAP_FIXED, target) == MAP_FAILED) return false;
    if (tail_bytes > moved) ::munmap(static_cast<char*>(tail) + moved, tail_bytes - moved);
    return true;
}

void give_back(void* block, std::size_t block_bytes, std::size_t from, std::size_t to) noexcept {
    if (!is_mapped(block_bytes)) return;
    const std::size_t first = round_up(from, kPageBytes);
    const std::size_t last = to / kPageBytes * kPageBytes;
    if (last > first) (void)::madvise(static_cast<char*>(block) + first, last - first, MADV_DONTNEED);
}

void release(void* block, std::size_t bytes) noexcept {
    if (is_mapped(bytes)) {
        ::munmap(block, bytes);
    } else {
        std::free(block);
    }
}

}  // namespace ovra::series_blocks
