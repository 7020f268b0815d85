// Kept books of the whole-series replay: lookup, forward replay, thinning.
#include "frame/heatmap/book_tape.h"

#include <algorithm>
#include <iterator>

namespace ovra {

void BookTape::clear() noexcept {
    states_.clear();
    state_bytes_ = 0;
    head_ = StampedBook(ticks_per_unit_);
    head_index_ = 0;
    min_gap_ = 0;
}

// Moves the head to `index`: onward from where it stands when no kept state
// lies between, else from the nearest kept state at or before `index`.
void BookTape::advance_to(std::uint32_t index) {
    auto it = states_.upper_bound(index);
    const bool kept_before = it != states_.begin();
    const std::uint32_t nearest = kept_before ? std::prev(it)->first : 0;
    if (head_index_ > index || head_index_ < nearest) {
        if (kept_before) {
            thaw(head_, *std::prev(it)->second);
        } else {
            head_ = StampedBook(ticks_per_unit_);
        }
        head_index_ = nearest;
    }
    for (; head_index_ < index; ++head_index_) head_.apply(events_[head_index_], head_index_);
}

std::shared_ptr<const FrozenBook> BookTape::book_at(std::uint32_t index) {
    if (const auto it = states_.find(index); it != states_.end()) return it->second;
    advance_to(index);
    auto book = std::make_shared<const FrozenBook>(freeze(head_));
    keep(index, book);
    return book;
}

void BookTape::prepare(std::span<const std::uint32_t> stops) {
    // The kept states are walked beside the ascending stops: a scrubbed
    // window finds most of its stops kept.
    auto kept = states_.begin();
    for (const std::uint32_t stop : stops) {
        while (kept != states_.end() && kept->first < stop) ++kept;
        if (kept != states_.end() && kept->first == stop) continue;
        if (!spaced(stop)) continue;
        advance_to(stop);
        keep(stop, std::make_shared<const FrozenBook>(freeze(head_)));
        kept = states_.lower_bound(stop);  // keeping may thin the states
    }
}

bool BookTape::spaced(std::uint32_t index) const noexcept {
    if (min_gap_ == 0) return true;
    const auto after = states_.lower_bound(index);
    if (after != states_.end() && after->first - index < min_gap_) return false;
    return after == states_.begin() || index - std::prev(after)->first >= min_gap_;
}

void BookTape::keep(std::uint32_t index, std::shared_ptr<const FrozenBook> book) {
    const std::size_t bytes = book->memory_bytes();
    while (!states_.empty() && state_bytes_ + bytes + head_.memory_bytes() > budget_) thin();
    if (state_bytes_ + bytes + head_.memory_bytes() > budget_ || !spaced(index)) return;
    state_bytes_ += bytes;
    states_.emplace(index, std::move(book));
}

// Drops every second kept state, and keeps later ones at least twice as
// far apart as before.
void BookTape::thin() {
    const std::size_t before = states_.size();
    bool drop = false;
    for (auto it = states_.begin(); it != states_.end();) {
        if (drop) {
            state_bytes_ -= it->second->memory_bytes();
            it = states_.erase(it);
        } else {
            ++it;
        }
        drop = !drop;
    }
    if (states_.size() == before) {  // a single state: it goes
        state_bytes_ = 0;
        states_.clear();
    }
    min_gap_ = min_gap_ == 0 ? 1 : std::min<std::uint32_t>(min_gap_ * 2, 1u << 31);
    if (states_.size() >= 2) {
        const std::uint32_t average =
            (states_.rbegin()->first - states_.begin()->first) / static_cast<std::uint32_t>(states_.size() - 1);
        min_gap_ = std::max(min_gap_, average);
    }
}

void BookTape::fit() {
    while (!states_.empty() && memory_bytes() > budget_) thin();
    if (memory_bytes() > budget_) {
        head_ = StampedBook(ticks_per_unit_);
        head_index_ = 0;
    }
}

void BookTape::set_budget(std::size_t bytes) {
    budget_ = bytes;
    fit();
}

}  // namespace ovra
