// Searches over ascending arrays of 64-bit keys, tuned for book sides.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace ovra {

// First position in the sorted a[0, n) whose value v has !before(v, x).
// Branch-free halving: the comparisons of a price search are unpredictable,
// and a conditional move costs less than a mispredicted jump.
template <class Before>
std::size_t partition_index(const std::int64_t* a, std::size_t n, std::int64_t x, Before before) noexcept {
    if (n == 0) return 0;
    std::size_t base = 0;
    while (n > 1) {
        const std::size_t half = n / 2;
        // A multiplication, not a conditional: compilers turn the latter
        // into a jump here.
        base += static_cast<std::size_t>(before(a[base + half - 1], x)) * half;
        n -= half;
    }
    return base + static_cast<std::size_t>(before(a[base], x));
}

// First position whose key is >= x.
inline std::size_t lower_index(std::span<const std::int64_t> a, std::int64_t x) noexcept {
    return partition_index(a.data(), a.size(), x, [](std::int64_t v, std::int64_t y) { return v < y; });
}

// First position whose key is > x.
inline std::size_t upper_index(std::span<const std::int64_t> a, std::int64_t x) noexcept {
    return partition_index(a.data(), a.size(), x, [](std::int64_t v, std::int64_t y) { return v <= y; });
}

// Keys at the back of a side looked at before any search: most book updates
// land within a few levels of the best price, which is stored last.
inline constexpr std::size_t kNearBest = 16;

// lower_index for a search that most often ends near the back. Counting the
// keys >= x among the last kNearBest has no data-dependent jump; only when
// all of them are >= x does a search of the rest follow.
inline std::size_t lower_index_from_back(std::span<const std::int64_t> a, std::int64_t x) noexcept {
    const std::size_t n = a.size();
    const std::size_t tail = n < kNearBest ? n : kNearBest;
    std::size_t at_least = 0;
    for (std::size_t i = n - tail; i < n; ++i) at_least += a[i] >= x ? 1 : 0;
    if (at_least < tail || tail == n) return n - at_least;
    return lower_index(a.first(n - tail), x);
}

}  // namespace ovra
