// The floor-divided bucket grid shared by the time-bucketed panels, and the
// limits that refuse a grid before it is allocated. Bucket arithmetic is done
// in 128 bits: starts, ends and counts near the ends of the 64-bit range
// cannot wrap.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "result.h"

namespace ovra {

using Int128 = __int128;

// Largest grid a panel may allocate: heatmap cells (buckets x levels) or
// funding / open-interest buckets.
inline constexpr std::int64_t kMaxGridCells = 10'000'000;

struct TimeGrid {
    std::int64_t start = 0;  // start of bucket 0
    std::int64_t step = 1;   // bucket_ms, at least 1
    Int128 count = 0;        // number of buckets, at least 1; up to 2^64

    std::int64_t bucket_start(std::int64_t k) const noexcept {
        // Every bucket start lies in [start, floor(last / step) * step], so
        // within the 64-bit range once start is.
        return static_cast<std::int64_t>(static_cast<Int128>(start) + static_cast<Int128>(k) * step);
    }
    // Exclusive end of bucket k; may lie beyond the 64-bit range.
    Int128 bucket_end(std::int64_t k) const noexcept {
        return static_cast<Int128>(start) + (static_cast<Int128>(k) + 1) * step;
    }
};

// What a grid panel will allocate for one window, known before it runs:
// `cells` (heatmap cells, or funding / open-interest buckets), or `refused`
// when the panel refuses its grid on its own (too large, or out of range).
struct GridPlan {
    Int128 cells = 0;
    bool refused = false;
};

// Buckets of width step from floor(first_ts / step) * step through the bucket
// holding last_ts (first_ts <= last_ts, step >= 1). Fails, naming the panel
// kind, when the first bucket would start before the 64-bit range.
Result<TimeGrid, std::string> floor_time_grid(std::string_view kind, std::int64_t first_ts,
                                              std::int64_t last_ts, std::int64_t step);

// Decimal text of a 128-bit integer (grid sizes can exceed 64 bits).
std::string int128_text(Int128 value);

// "{kind} grid too large: {buckets} buckets", to which a heatmap adds its levels.
std::string grid_too_large(std::string_view kind, Int128 buckets);

}  // namespace ovra
