// Bump storage for one parsed tree: values, members and string bytes are
// carved out of a few large blocks and released together with the Document.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace ovra::json {

class Arena {
public:
    // Returns bytes aligned to `align` (a power of two up to 8); never null
    // (std::bad_alloc on exhaustion). Blocks start 8-aligned, so an arena that
    // only holds one kind of object wastes nothing on padding.
    void* allocate(std::size_t bytes, std::size_t align = 8) {
        const std::size_t pad = (align - reinterpret_cast<std::uintptr_t>(cursor_) % align) % align;
        if (bytes + pad > left_) {
            grow(bytes);
        } else {
            cursor_ += pad;
            left_ -= pad;
        }
        void* p = cursor_;
        cursor_ += bytes;
        left_ -= bytes;
        return p;
    }

private:
    void grow(std::size_t bytes);

    std::vector<std::unique_ptr<std::byte[]>> blocks_;
    std::byte* cursor_ = nullptr;
    std::size_t left_ = 0;
    std::size_t next_block_ = 4096;
};

}  // namespace ovra::json
