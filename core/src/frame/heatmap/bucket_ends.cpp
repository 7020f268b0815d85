// Bucket ends of the whole book series, made once per bucket width.
#include "frame/heatmap/bucket_ends.h"

#include <algorithm>

namespace ovra {

namespace {

// floor(ts / step) for step >= 1.
std::int64_t bucket_of(std::int64_t ts, std::int64_t step) noexcept {
    const std::int64_t q = ts / step;
    return (ts % step != 0 && ts < 0) ? q - 1 : q;
}

}  // namespace

// The first event at or after `at` with ts >= end: found by doubling steps
// from `at`, then halving, so that buckets of many events cost a few reads
// each and buckets of one or none about one.
std::size_t BucketEnds::first_at_or_after(std::size_t at, Int128 end) const noexcept {
    const std::size_t n = events_.size();
    if (at == n || !(events_[at].ts < end)) return at;
    std::size_t below = at;  // events_[below].ts < end
    std::size_t step = 1;
    while (below + step < n && events_[below + step].ts < end) {
        below += step;
        step *= 2;
    }
    const auto first = events_.begin() + static_cast<std::ptrdiff_t>(below + 1);
    const auto last = events_.begin() + static_cast<std::ptrdiff_t>(std::min(n, below + step));
    return static_cast<std::size_t>(
        std::partition_point(first, last, [end](const BookEvent& e) { return e.ts < end; }) - events_.begin());
}

const BucketEnds::Series* BucketEnds::series_for(std::int64_t step, std::size_t budget) {
    for (auto it = series_.begin(); it != series_.end(); ++it) {
        if (it->step != step) continue;
        series_.splice(series_.begin(), series_, it);
        return &series_.front();
    }
    const std::int64_t first = bucket_of(events_.front().ts, step);
    const std::int64_t last = bucket_of(events_.back().ts, step);
    const Int128 count = static_cast<Int128>(last) - first + 1;
    if (count > kMaxBuckets ||
        memory_bytes() + sizeof(Series) + static_cast<std::size_t>(count) * sizeof(std::uint32_t) > budget) {
        return nullptr;
    }
    Series fresh;
    fresh.step = step;
    fresh.first_bucket = first;
    fresh.ends.resize(static_cast<std::size_t>(count));
    std::size_t at = 0;
    for (std::size_t b = 0; b < fresh.ends.size(); ++b) {
        const Int128 end = (static_cast<Int128>(first) + static_cast<Int128>(b) + 1) * step;
        at = first_at_or_after(at, end);
        fresh.ends[b] = static_cast<std::uint32_t>(at);
    }
    if (series_.size() >= kSeries) series_.pop_back();
    series_.push_front(std::move(fresh));
    return &series_.front();
}

void BucketEnds::search_ends(const TimeGrid& grid, std::size_t first, std::size_t last,
                             std::vector<std::uint32_t>& out) const {
    std::size_t at = first;
    for (std::size_t k = 0; k < out.size(); ++k) {
        at = std::min(first_at_or_after(at, grid.bucket_end(static_cast<std::int64_t>(k))), last);
        out[k] = static_cast<std::uint32_t>(at);
    }
}

void BucketEnds::window_ends(const TimeGrid& grid, std::size_t first, std::size_t last, std::size_t budget,
                             std::vector<std::uint32_t>& out) {
    out.resize(static_cast<std::size_t>(grid.count));
    const Series* series = series_for(grid.step, budget);
    if (!series) {
        search_ends(grid, first, last, out);
        return;
    }
    // The window's events lie in the series' buckets, so bucket 0 and the
    // window's last bucket are among them.
    const auto offset = static_cast<std::size_t>(grid.start / grid.step - series->first_bucket);
    const auto cap = static_cast<std::uint32_t>(last);
    for (std::size_t k = 0; k < out.size(); ++k) out[k] = std::min(series->ends[offset + k], cap);
}

void BucketEnds::fit(std::size_t bytes) noexcept {
    while (!series_.empty() && memory_bytes() > bytes) series_.pop_back();
}

std::size_t BucketEnds::memory_bytes() const noexcept {
    std::size_t bytes = 0;
    for (const Series& s : series_) bytes += sizeof(Series) + s.ends.capacity() * sizeof(std::uint32_t);
    return bytes;
}

}  // namespace ovra
