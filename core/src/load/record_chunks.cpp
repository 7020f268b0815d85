// Page mapping for RecordChunks: large chunks on transparent huge pages
// where the system offers them (one fault and one page-table entry per
// 2 MiB instead of 512), small ones populated at once.
#include "load/record_chunks.h"

#include <sys/mman.h>

#include <cstdint>

namespace ovra::load {

namespace {

constexpr std::size_t kHugePage = std::size_t{1} << 21;

std::uintptr_t round_up(std::uintptr_t address) noexcept { return (address + kHugePage - 1) & ~(kHugePage - 1); }

}  // namespace

void* map_pages(std::size_t bytes) noexcept {
    if (bytes < kHugePage) {
        void* pages = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        return pages == MAP_FAILED ? nullptr : pages;
    }
    // A whole number of huge pages at a huge-page boundary: map a page more
    // than asked and give back what lies before and after the aligned run.
    const std::size_t rounded = round_up(bytes);
    void* wide = mmap(nullptr, rounded + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (wide == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(wide);
    const std::uintptr_t aligned = round_up(start);
    if (aligned != start) munmap(wide, aligned - start);
    const std::uintptr_t tail = aligned + rounded;
    const std::uintptr_t wide_end = start + rounded + kHugePage;
    if (tail != wide_end) munmap(reinterpret_cast<void*>(tail), wide_end - tail);
    void* pages = reinterpret_cast<void*>(aligned);
    madvise(pages, rounded, MADV_HUGEPAGE);  // a hint: without it the pages are small
    return pages;
}

void unmap_pages(void* pages, std::size_t bytes) noexcept {
    if (pages == nullptr) return;
    munmap(pages, bytes < kHugePage ? bytes : round_up(bytes));
}

void advise_huge_pages(void* data, std::size_t bytes) noexcept {
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = round_up(start);
    const std::uintptr_t last = (start + bytes) & ~(kHugePage - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

}  // namespace ovra::load
