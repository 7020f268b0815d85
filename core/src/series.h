// The contiguous array of one record series: plain structs in one block
// (series_blocks: the C allocator's for small ones, a mapping of huge pages
// for large ones). Growing a large block moves its pages instead of copying
// the records, so a series read one record at a time costs about its records
// once; trimming gives the unused tail back. Vector-like where the dataset's
// users need it.
#pragma once

#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <new>
#include <type_traits>
#include <utility>

namespace ovra {

namespace series_blocks {

// What backs a mapped block: huge pages where the system has them (fewer
// faults), or plain pages. A thread that never freed memory finds few huge
// pages at hand, and a huge page that has to be fetched costs more than
// its 512 plain ones.
enum class Pages : unsigned char { Huge, Plain };

// Blocks of `bytes` as given by rounded(); nullptr when there is no memory.
// resize keeps the bytes and may move them to another address.
void* allocate(std::size_t bytes, Pages pages) noexcept;
void* resize(void* block, std::size_t old_bytes, std::size_t new_bytes, Pages pages) noexcept;
void release(void* block, std::size_t bytes) noexcept;
// The bytes a block is given for a request of `bytes`.
std::size_t rounded(std::size_t bytes) noexcept;
// Gives back the memory of the whole pages within bytes [from, to) of a
// mapped block of `block_bytes` (their contents are lost); nothing for a
// smaller block.
void give_back(void* block, std::size_t block_bytes, std::size_t from, std::size_t to) noexcept;
// Whether a block of that many bytes (as rounded) is a mapping of its own.
bool is_mapped(std::size_t bytes) noexcept;
// Moves the first `tail_used` bytes of the mapped block `tail` (of
// `tail_bytes`) into the mapped block `head` (of `head_bytes`, its first
// `head_used` bytes kept) at `offset`, the first huge-page boundary at or
// past head_used, and releases the rest of `tail`. `head` and `head_bytes`
// follow the head block, which may have grown and moved also when the
// pages could not be moved (false: `tail` as it was). The bytes between
// head_used and offset are left as they were; `offset` is a multiple of
// `record_bytes`.
bool splice(void*& head, std::size_t& head_bytes, std::size_t head_used, void* tail, std::size_t tail_bytes,
            std::size_t tail_used, std::size_t record_bytes, std::size_t& offset) noexcept;

}  // namespace series_blocks

template <class T>
class Series {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
    using value_type = T;
    using iterator = T*;
    using const_iterator = const T*;

    Series() noexcept = default;
    Series(std::initializer_list<T> records) {
        reserve(records.size());
        for (const T& r : records) push_back(r);
    }
    Series(Series&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)),
          pages_(other.pages_) {}
    Series& operator=(Series&& other) noexcept {
        if (this != &other) {
            release();
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
            capacity_ = std::exchange(other.capacity_, 0);
            pages_ = other.pages_;
        }
        return *this;
    }
    Series(const Series&) = delete;
    Series& operator=(const Series&) = delete;
    ~Series() { release(); }

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    std::size_t capacity() const noexcept { return capacity_; }
    T* data() noexcept { return data_; }
    const T* data() const noexcept { return data_; }
    T* begin() noexcept { return data_; }
    T* end() noexcept { return data_ + size_; }
    const T* begin() const noexcept { return data_; }
    const T* end() const noexcept { return data_ + size_; }
    T& operator[](std::size_t i) noexcept { return data_[i]; }
    const T& operator[](std::size_t i) const noexcept { return data_[i]; }
    T& front() noexcept { return data_[0]; }
    const T& front() const noexcept { return data_[0]; }
    T& back() noexcept { return data_[size_ - 1]; }
    const T& back() const noexcept { return data_[size_ - 1]; }

    // Room for at least `count` records; false (nothing changed) when the
    // system has no memory left.
    bool try_reserve(std::size_t count) noexcept {
        if (count <= capacity_) return true;
        if (count > max_size()) return false;
        const std::size_t bytes = series_blocks::rounded(count * sizeof(T));
        void* block = data_ == nullptr
                          ? series_blocks::allocate(bytes, pages_)
                          : series_blocks::resize(data_, series_blocks::rounded(capacity_ * sizeof(T)), bytes, pages_);
        if (block == nullptr) return false;
        data_ = static_cast<T*>(block);
        capacity_ = bytes / sizeof(T);
        return true;
    }
    void reserve(std::size_t count) {
        if (!try_reserve(count)) throw std::bad_alloc();
    }

    // A slot for one more record, uninitialised; nullptr when no memory is left.
    T* append() noexcept {
        if (size_ == capacity_ && !try_reserve(grown())) return nullptr;
        return data_ + size_++;
    }
    void push_back(const T& record) {
        T* slot = append();
        if (slot == nullptr) throw std::bad_alloc();
        *slot = record;
    }
    template <class... Args>
    T& emplace_back(Args&&... args) {
        T* slot = append();
        if (slot == nullptr) throw std::bad_alloc();
        return *new (slot) T{std::forward<Args>(args)...};
    }
    void pop_back() noexcept { --size_; }
    // New records are value-initialised (zero), as by a vector.
    void resize(std::size_t count) {
        reserve(count);
        for (std::size_t i = size_; i < count; ++i) new (data_ + i) T{};
        size_ = count;
    }
    void clear() noexcept { size_ = 0; }
    // Large blocks from now on in plain pages (for a series written by a
    // pool worker).
    void use_plain_pages() noexcept { pages_ = series_blocks::Pages::Plain; }

    // Appends the records of `tail` and empties it; false (nothing changed)
    // when there is no memory for them.
    // The tail's memory is given back as it is copied, so that the two
    // copies of its records never coexist whole.
    bool append_moved(Series& tail) noexcept {
        if (tail.size_ == 0) return true;
        if (!try_reserve(size_ + tail.size_)) return false;
        const std::size_t tail_held = series_blocks::rounded(tail.capacity_ * sizeof(T));
        const std::size_t bytes = tail.size_ * sizeof(T);
        auto* to = reinterpret_cast<unsigned char*>(data_ + size_);
        const auto* from = reinterpret_cast<const unsigned char*>(tail.data_);
        for (std::size_t done = 0; done < bytes;) {
            const std::size_t step = bytes - done < kCopyStepBytes ? bytes - done : kCopyStepBytes;
            std::memcpy(to + done, from + done, step);
            series_blocks::give_back(tail.data_, tail_held, done, done + step);
            done += step;
        }
        size_ += tail.size_;
        tail.release();
        return true;
    }
    // Appends the records of `tail` (emptied) starting at record `base`, at
    // or past the current end: records in between are unused padding, left
    // uninitialised; false (nothing changed) when there is no memory.
    // Large blocks move their pages (no record is copied): the tail lands
    // at the next huge-page boundary of this block.
    bool append_pages(Series& tail, std::size_t& base) noexcept {
        base = size_;
        if (tail.size_ == 0) return true;
        const std::size_t held = series_blocks::rounded(capacity_ * sizeof(T));
        const std::size_t tail_held = series_blocks::rounded(tail.capacity_ * sizeof(T));
        if (data_ == nullptr || !series_blocks::is_mapped(held) || !series_blocks::is_mapped(tail_held)) {
            return append_moved(tail);
        }
        void* block = data_;
        std::size_t bytes = held;
        std::size_t offset = 0;
        const bool moved = series_blocks::splice(block, bytes, size_ * sizeof(T), tail.data_, tail_held,
                                                 tail.size_ * sizeof(T), sizeof(T), offset);
        data_ = static_cast<T*>(block);
        capacity_ = bytes / sizeof(T);
        if (!moved) return append_moved(tail);
        base = offset / sizeof(T);
        size_ = base + tail.size_;
        tail.data_ = nullptr;  // its pages are ours now
        tail.size_ = 0;
        tail.capacity_ = 0;
        return true;
    }

    // Gives back the room past the last record.
    void shrink_to_fit() noexcept {
        if (size_ == 0) {
            release();
            return;
        }
        const std::size_t held = series_blocks::rounded(capacity_ * sizeof(T));
        const std::size_t needed = series_blocks::rounded(size_ * sizeof(T));
        if (needed >= held) return;
        void* block = series_blocks::resize(data_, held, needed, pages_);
        if (block == nullptr) return;  // the tail then simply stays
        data_ = static_cast<T*>(block);
        capacity_ = needed / sizeof(T);
    }

    // The same block as a series of another record type of the same size,
    // each record still to be rewritten in place by the caller (the bytes
    // are those of this series' records).
    template <class U>
    Series<U> reinterpret() && noexcept {
        static_assert(sizeof(U) == sizeof(T) && alignof(U) <= alignof(T));
        Series<U> out;
        out.adopt(reinterpret_cast<U*>(std::exchange(data_, nullptr)), std::exchange(size_, 0),
                  std::exchange(capacity_, 0));
        return out;
    }

private:
    template <class U>
    friend class Series;

    static constexpr std::size_t max_size() noexcept { return (std::size_t{1} << 56) / sizeof(T); }
    static constexpr std::size_t kCopyStepBytes = std::size_t{2} << 20;

    // Doubling; past 1 MiB (where a block becomes a mapping of its own) a
    // series jumps to 32 MiB, and from then on growing remaps pages instead
    // of copying records. Pages not yet written hold no memory.
    std::size_t grown() const noexcept {
        constexpr std::size_t kCopiedBytes = std::size_t{1} << 20;
        constexpr std::size_t kMappedBytes = std::size_t{32} << 20;
        const std::size_t doubled = capacity_ * 2;
        if (doubled == 0) return 1;
        if (doubled * sizeof(T) > kCopiedBytes && doubled * sizeof(T) < kMappedBytes) return kMappedBytes / sizeof(T);
        return doubled;
    }
    void adopt(T* data, std::size_t size, std::size_t capacity) noexcept {
        release();
        data_ = data;
        size_ = size;
        capacity_ = capacity;
    }
    void release() noexcept {
        if (data_ != nullptr) series_blocks::release(data_, series_blocks::rounded(capacity_ * sizeof(T)));
        data_ = nullptr;
        size_ = 0;
        capacity_ = 0;
    }

    T* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;  // records that fit the block
    series_blocks::Pages pages_ = series_blocks::Pages::Huge;
};

}  // namespace ovra
