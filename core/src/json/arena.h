// Bump storage for one parsed tree: values, members and string bytes are
// carved out of a few large blocks and released together with the Document.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace ovra::json {

class Arena {
public:
    // Returns bytes aligned to 8; never null (std::bad_alloc on exhaustion).
    void* allocate(std::size_t bytes) {
        bytes = (bytes + 7) & ~std::size_t{7};
        if (bytes > left_) grow(bytes);
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
