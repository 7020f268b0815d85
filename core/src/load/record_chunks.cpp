// Page mapping for RecordChunks.
#include "load/record_chunks.h"

#include <sys/mman.h>

namespace ovra::load {

void* map_pages(std::size_t bytes) noexcept {
    void* pages = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    return pages == MAP_FAILED ? nullptr : pages;
}

void unmap_pages(void* pages, std::size_t bytes) noexcept {
    if (pages != nullptr) munmap(pages, bytes);
}

}  // namespace ovra::load
