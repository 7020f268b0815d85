// A growable sequence of plain records stored in page-backed chunks, for
// reading series whose length is known only at the end. Growing never copies
// (chunks grow from 16 KiB to 4 MiB and stay where they are), and moving the
// records into one exactly sized vector hands each chunk's pages back to the
// system as soon as it has been copied, so the resident peak stays at the
// records once plus one chunk.
#pragma once

#include <cstddef>
#include <type_traits>
#include <vector>

namespace ovra::load {

// Pages mapped straight from the system, released at once by unmap_pages
// (heap blocks may stay with the allocator after they are freed).
void* map_pages(std::size_t bytes) noexcept;
void unmap_pages(void* pages, std::size_t bytes) noexcept;
// Asks for huge pages under the whole 2 MiB pages of a buffer not yet
// written (a vector just reserved), so that filling it faults rarely.
void advise_huge_pages(void* data, std::size_t bytes) noexcept;

// Reserves room for `more` records and advises huge pages for it.
template <class Out>
void reserve_for_copy(std::vector<Out>& out, std::size_t more) {
    const std::size_t used = out.size();
    out.reserve(used + more);
    advise_huge_pages(out.data() + used, (out.capacity() - used) * sizeof(Out));
}

template <class Record>
class RecordChunks {
    static_assert(std::is_trivially_copyable_v<Record>);

public:
    RecordChunks() = default;
    RecordChunks(const RecordChunks&) = delete;
    RecordChunks& operator=(const RecordChunks&) = delete;
    ~RecordChunks() { clear(); }

    std::size_t size() const noexcept { return size_; }

    // A slot for one more record, uninitialised; nullptr when no memory is left.
    Record* append() noexcept {
        if (next_ == end_ && !add_chunk()) return nullptr;
        ++size_;
        return next_++;
    }

    void clear() noexcept {
        for (const Chunk& chunk : chunks_) unmap_pages(chunk.records, chunk.bytes);
        chunks_.clear();
        size_ = 0;
        next_ = end_ = nullptr;
    }

    // Appends every record, passed through `convert`, to `out` (reserving
    // exactly the room for them) and empties this sequence, unmapping each
    // chunk once it has been copied.
    template <class Out, class Convert>
    void move_into(std::vector<Out>& out, Convert convert) {
        reserve_for_copy(out, size_);
        for (std::size_t i = 0; i < chunks_.size(); ++i) {
            const Chunk& chunk = chunks_[i];
            const Record* last = i + 1 == chunks_.size() ? next_ : chunk.records + chunk.bytes / sizeof(Record);
            for (const Record* r = chunk.records; r != last; ++r) out.push_back(convert(*r));
            unmap_pages(chunk.records, chunk.bytes);
        }
        chunks_.clear();
        size_ = 0;
        next_ = end_ = nullptr;
    }
    void move_into(std::vector<Record>& out) {
        reserve_for_copy(out, size_);
        for (std::size_t i = 0; i < chunks_.size(); ++i) {
            const Chunk& chunk = chunks_[i];
            const Record* last = i + 1 == chunks_.size() ? next_ : chunk.records + chunk.bytes / sizeof(Record);
            out.insert(out.end(), static_cast<const Record*>(chunk.records), last);
            unmap_pages(chunk.records, chunk.bytes);
        }
        chunks_.clear();
        size_ = 0;
        next_ = end_ = nullptr;
    }

private:
    static constexpr std::size_t kFirstChunkBytes = std::size_t{1} << 14;
    static constexpr std::size_t kLargestChunkBytes = std::size_t{1} << 22;

    struct Chunk {
        Record* records;
        std::size_t bytes;
    };

    bool add_chunk() noexcept {
        const std::size_t bytes = chunks_.empty() ? kFirstChunkBytes
                                  : chunks_.back().bytes < kLargestChunkBytes ? chunks_.back().bytes * 2
                                                                              : kLargestChunkBytes;
        void* pages = map_pages(bytes);
        if (pages == nullptr) return false;
        try {
            chunks_.push_back(Chunk{static_cast<Record*>(pages), bytes});
        } catch (...) {
            unmap_pages(pages, bytes);
            return false;
        }
        next_ = chunks_.back().records;
        end_ = next_ + bytes / sizeof(Record);
        return true;
    }

    std::vector<Chunk> chunks_;
    std::size_t size_ = 0;
    Record* next_ = nullptr;  // next free slot of the last chunk
    Record* end_ = nullptr;   // end of the last chunk
};

}  // namespace ovra::load
