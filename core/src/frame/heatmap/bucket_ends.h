// Where each time bucket of the stored book events ends, per bucket width.
// Bucket starts are floor multiples of bucket_ms from time 0, so a bucket's
// end index in the whole series is the same for every window; a window's
// bucket k ends there, or at the window's end when that comes first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <span>
#include <vector>

#include "dataset.h"
#include "panels/time_grid.h"

namespace ovra {

class BucketEnds {
public:
    explicit BucketEnds(std::span<const BookEvent> events) noexcept : events_(events) {}

    // The event index where each bucket of `grid` (the grid of the window
    // [first, last)) ends, ascending, the last one at `last`. The ends of a
    // new width are kept only when all kept fit in `budget` bytes.
    void window_ends(const TimeGrid& grid, std::size_t first, std::size_t last, std::size_t budget,
                     std::vector<std::uint32_t>& out);

    std::size_t memory_bytes() const noexcept;
    // Drops the least recently used widths until at most `bytes` are held.
    void fit(std::size_t bytes) noexcept;
    void clear() noexcept { series_.clear(); }

private:
    struct Series {
        std::int64_t step = 0;
        std::int64_t first_bucket = 0;   // bucket number of ends[0]
        std::vector<std::uint32_t> ends;  // end index of each bucket of the whole series
    };
    // Widths kept at once, and the most buckets one may hold.
    static constexpr std::size_t kSeries = 4;
    static constexpr Int128 kMaxBuckets = Int128{1} << 21;

    const Series* series_for(std::int64_t step, std::size_t budget);
    std::size_t first_at_or_after(std::size_t at, Int128 end) const noexcept;
    void search_ends(const TimeGrid& grid, std::size_t first, std::size_t last, std::vector<std::uint32_t>& out) const;

    std::span<const BookEvent> events_;
    std::list<Series> series_;  // most recently used first
};

}  // namespace ovra
