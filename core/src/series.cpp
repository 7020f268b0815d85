// Page mappings of Series: anonymous private pages, grown and trimmed with
// mremap.
#include "series.h"

#include <sys/mman.h>
#include <unistd.h>

namespace ovra::series_pages {

namespace {

std::size_t page_size() noexcept {
    static const std::size_t size = [] {
        const long reported = sysconf(_SC_PAGESIZE);
        return reported > 0 ? static_cast<std::size_t>(reported) : std::size_t{4096};
    }();
    return size;
}

}  // namespace

std::size_t rounded(std::size_t bytes) noexcept {
    const std::size_t page = page_size();
    return (bytes + page - 1) / page * page;
}

void* map(std::size_t bytes) noexcept {
    void* pages = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return pages == MAP_FAILED ? nullptr : pages;
}

void* resize(void* pages, std::size_t old_bytes, std::size_t new_bytes) noexcept {
    void* moved = mremap(pages, old_bytes, new_bytes, MREMAP_MAYMOVE);
    return moved == MAP_FAILED ? nullptr : moved;
}

void unmap(void* pages, std::size_t bytes) noexcept { munmap(pages, bytes); }

}  // namespace ovra::series_pages
