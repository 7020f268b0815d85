// Everything a handle keeps between frames, for the dataset it holds: the
// book heatmap cache, and per panel setting the footprint sums, the written
// liquidation marks and the last funding / open-interest text. It belongs to
// one dataset and is dropped with it ("load", "reset"); a new spec keeps it,
// as every entry is keyed by the panel settings it serves.
//
// Memory: all of it together holds at most memory_limit() bytes between
// frames: the larger of 256 MiB and the dataset's own size, or the number in
// the environment variable TAVRIN_OVRA_CACHE_BYTES when that is set. The
// heatmap cache gets three quarters; the rest is kept by thinning out
// footprint checkpoints and dropping the least recently used entries. Only
// the calling thread adds or drops entries; a panel on a pool thread works
// inside its own entry, under that entry's lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "dataset.h"
#include "frame/footprint_cache.h"
#include "frame/heatmap_cache.h"
#include "frame/liquidation_text.h"

namespace ovra {

// The bytes the caches of a handle may hold for `dataset`, TAVRIN_OVRA_CACHE_BYTES
// given as `env_value` (a decimal count of bytes; anything else is ignored).
std::size_t frame_cache_limit(const Dataset& dataset, const char* env_value) noexcept;

// The last funding / open-interest text of one bucket_ms and the window it
// was written for.
struct FundingMemo {
    struct Window {
        std::size_t candles_first, candles_last, funding_first, funding_last, oi_first, oi_last;
        bool operator==(const Window&) const = default;
    };
    std::mutex mutex;
    std::optional<Window> window;
    std::string text;
};

struct LiquidationEntry {
    std::mutex mutex;
    std::optional<LiquidationText> text;  // written by the first frame that needs it
};

class FrameCache {
public:
    // `dataset` is sorted by ts, outlives the cache and never changes while
    // the cache exists.
    FrameCache(const Dataset& dataset, std::size_t memory_limit);

    const Dataset& dataset() const noexcept { return *dataset_; }
    HeatmapCache& heatmap() noexcept { return heatmap_; }

    // The entries for the panels of a frame; calling thread only, between
    // begin_frame and end_frame.
    void begin_frame() noexcept { ++clock_; }
    FootprintCache& footprint(double price_bin);
    LiquidationEntry& liquidation(double price_bin);
    FundingMemo& funding(std::int64_t bucket_ms);
    // Brings what is held back within the limit.
    void end_frame() noexcept;

    std::size_t memory_bytes() const noexcept;
    std::size_t memory_limit() const noexcept { return limit_; }

private:
    template <class T>
    struct Entry {
        std::unique_ptr<T> value;
        std::uint64_t last_used = 0;
    };

    std::size_t own_bytes() const noexcept;
    bool shed_least_recent() noexcept;

    const Dataset* dataset_;
    std::size_t limit_;
    std::size_t own_limit_;
    HeatmapCache heatmap_;
    std::uint64_t clock_ = 0;
    std::map<std::uint64_t, Entry<FootprintCache>> footprints_;  // by price_bin bits
    std::map<std::uint64_t, Entry<LiquidationEntry>> liquidations_;
    std::map<std::int64_t, Entry<FundingMemo>> fundings_;  // by bucket_ms
};

}  // namespace ovra
