// Written heatmap rows, per ladder. A row depends only on its bucket's book
// and on the ladder: the book after events [0, end) restricted to entries
// stamped >= from, so (end, from) names it, and ladders are compared bit
// for bit (lower edges and band tops, which carry price_bin).
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>
#include <vector>

namespace ovra {

class RowTexts {
public:
    struct Ladder {
        std::vector<double> lo;
        std::vector<double> hi;
        std::unordered_map<std::uint64_t, std::string> rows;  // row text "[...]" by row_key
        std::size_t bytes = 0;
    };

    static std::uint64_t row_key(std::uint32_t end, std::uint32_t from) noexcept {
        return (static_cast<std::uint64_t>(end) << 32) | from;
    }

    // The rows of this ladder, made the most recently used.
    Ladder& ladder(const std::vector<double>& lo, const std::vector<double>& hi);
    void add(Ladder& ladder, std::uint64_t key, std::string text);

    // Drops the least recently used ladders, then rows of the current one,
    // until at most `bytes` are held.
    void fit(std::size_t bytes);
    std::size_t memory_bytes() const noexcept { return bytes_; }
    void clear() noexcept;

private:
    std::list<Ladder> ladders_;  // most recently used first
    std::size_t bytes_ = 0;
};

}  // namespace ovra
