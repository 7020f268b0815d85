// The per-handle frame cache: entries by panel setting, and the memory bound.
#include "frame/frame_cache.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>

namespace ovra {

namespace {

constexpr std::size_t kLeastLimit = std::size_t{256} << 20;

template <class Map, class Make>
auto& entry_for(Map& map, typename Map::key_type key, std::uint64_t clock, Make make) {
    auto& entry = map[key];
    if (!entry.value) entry.value = make();
    entry.last_used = clock;
    return *entry.value;
}

template <class Map>
std::size_t memo_bytes(const Map& map) noexcept {
    std::size_t bytes = 0;
    for (const auto& [key, entry] : map) bytes += sizeof(entry) + 64 + entry.value->text.capacity();
    return bytes;
}

}  // namespace

std::size_t frame_cache_limit(const Dataset& dataset, const char* env_value) noexcept {
    if (env_value != nullptr && *env_value != '\0') {
        std::size_t bytes = 0;
        const char* end = env_value + std::strlen(env_value);
        auto [ptr, ec] = std::from_chars(env_value, end, bytes);
        if (ec == std::errc() && ptr == end) return bytes;
    }
    return std::max(kLeastLimit, dataset.memory_bytes());
}

FrameCache::FrameCache(const Dataset& dataset, std::size_t memory_limit)
    : dataset_(&dataset), limit_(memory_limit), own_limit_(memory_limit / 4), heatmap_(dataset) {
    heatmap_.set_memory_limit(limit_ - own_limit_);
}

FootprintCache& FrameCache::footprint(double price_bin) {
    return entry_for(footprints_, std::bit_cast<std::uint64_t>(price_bin), clock_, [&] {
        auto cache = std::make_unique<FootprintCache>(dataset_->trades, price_bin);
        cache->set_checkpoint_limit(own_limit_ / 2);
        return cache;
    });
}

LiquidationEntry& FrameCache::liquidation(double price_bin) {
    return entry_for(liquidations_, std::bit_cast<std::uint64_t>(price_bin), clock_,
                     [] { return std::make_unique<LiquidationEntry>(); });
}

FundingMemo& FrameCache::funding(std::int64_t bucket_ms) {
    return entry_for(fundings_, bucket_ms, clock_, [] { return std::make_unique<FundingMemo>(); });
}

std::size_t FrameCache::own_bytes() const noexcept {
    std::size_t bytes = memo_bytes(fundings_);
    for (const auto& [key, entry] : footprints_) bytes += sizeof(entry) + 64 + entry.value->memory_bytes();
    for (const auto& [key, entry] : liquidations_) {
        bytes += sizeof(entry) + 64 + (entry.value->text ? entry.value->text->memory_bytes() : 0);
    }
    return bytes;
}

std::size_t FrameCache::memory_bytes() const noexcept { return own_bytes() + heatmap_.memory_bytes(); }

// Gives back some memory: the least recently used entry is dropped, but a
// footprint first loses its checkpoints. False when nothing is left.
bool FrameCache::shed_least_recent() noexcept {
    std::uint64_t oldest = UINT64_MAX;
    int which = -1;
    auto consider = [&](const auto& map, int kind) {
        for (const auto& [key, entry] : map) {
            if (entry.last_used < oldest) {
                oldest = entry.last_used;
                which = kind;
            }
        }
    };
    consider(footprints_, 0);
    consider(liquidations_, 1);
    consider(fundings_, 2);
    auto drop = [&](auto& map) {
        for (auto it = map.begin(); it != map.end(); ++it) {
            if (it->second.last_used == oldest) {
                map.erase(it);
                return;
            }
        }
    };
    switch (which) {
        case 0:
            for (auto& [key, entry] : footprints_) {
                if (entry.last_used == oldest) {
                    if (!entry.value->thin_out()) drop(footprints_);
                    return true;
                }
            }
            return true;
        case 1: drop(liquidations_); return true;
        case 2: drop(fundings_); return true;
        default: return false;
    }
}

void FrameCache::end_frame() noexcept {
    while (own_bytes() > own_limit_ && shed_least_recent()) {
    }
}

}  // namespace ovra
