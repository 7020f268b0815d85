// Row texts per ladder, least recently used ladders dropped first.
#include "frame/heatmap/row_texts.h"

#include <algorithm>
#include <bit>

namespace ovra {

namespace {

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) noexcept {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](double x, double y) {
               return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y);
           });
}

// Rough heap cost of one kept row beside its text.
constexpr std::size_t kRowOverhead = 64;

}  // namespace

RowTexts::Ladder& RowTexts::ladder(const std::vector<double>& lo, const std::vector<double>& hi) {
    for (auto it = ladders_.begin(); it != ladders_.end(); ++it) {
        if (same_bits(it->lo, lo) && same_bits(it->hi, hi)) {
            ladders_.splice(ladders_.begin(), ladders_, it);
            return ladders_.front();
        }
    }
    Ladder fresh;
    fresh.lo = lo;
    fresh.hi = hi;
    fresh.bytes = (lo.size() + hi.size()) * sizeof(double) + kRowOverhead;
    bytes_ += fresh.bytes;
    ladders_.push_front(std::move(fresh));
    return ladders_.front();
}

void RowTexts::add(Ladder& ladder, std::uint64_t key, std::string text) {
    const std::size_t bytes = text.capacity() + kRowOverhead;
    if (ladder.rows.emplace(key, std::move(text)).second) {
        ladder.bytes += bytes;
        bytes_ += bytes;
    }
}

void RowTexts::fit(std::size_t bytes) {
    while (bytes_ > bytes && ladders_.size() > 1) {
        bytes_ -= ladders_.back().bytes;
        ladders_.pop_back();
    }
    if (bytes_ > bytes) clear();
}

void RowTexts::clear() noexcept {
    ladders_.clear();
    bytes_ = 0;
}

}  // namespace ovra
