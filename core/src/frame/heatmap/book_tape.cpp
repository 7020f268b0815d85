// Kept books of the whole-series replay: lookup, forward replay, thinning.
#include "frame/heatmap/book_tape.h"

#include <algorithm>
#include <iterator>

#include "worker_pool.h"

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
    std::vector<std::shared_ptr<const FrozenBook>> books;
    replay_books(std::span(&index, 1), books);
    keep(index, books.front());
    return books.front();
}

void BookTape::prepare(std::span<const std::uint32_t> stops) {
    // The kept states are walked beside the ascending stops: a scrubbed
    // window finds most of its stops kept. The rest are made in runs; a run
    // is bounded so that its copies, held until the run ends, stay a small
    // part of the budget.
    const std::size_t book_bytes =
        sizeof(FrozenBook) + (head_.bids.size() + head_.asks.size() + 64) * FrozenSide::kEntryBytes;
    const std::size_t most = std::clamp<std::size_t>(budget_ / 8 / book_bytes, 1, kMostPerRun);
    std::vector<std::uint32_t> run;
    std::vector<std::shared_ptr<const FrozenBook>> books;
    const auto keep_run = [&] {
        replay_books(run, books);
        for (std::size_t j = 0; j < run.size(); ++j) keep(run[j], std::move(books[j]));
        run.clear();
    };
    auto kept = states_.begin();
    for (const std::uint32_t stop : stops) {
        while (kept != states_.end() && kept->first < stop) ++kept;
        if (kept != states_.end() && kept->first == stop) continue;
        if (!spaced(stop) || (min_gap_ != 0 && !run.empty() && stop - run.back() < min_gap_)) continue;
        run.push_back(stop);
        if (run.size() < most) continue;
        keep_run();
        kept = states_.lower_bound(stop);  // keeping may thin the states
    }
    if (!run.empty()) keep_run();
}

void BookTape::plan_legs(std::span<const std::uint32_t> stops, std::vector<Leg>& legs) const {
    std::uint32_t head = head_index_;
    for (const std::uint32_t stop : stops) {
        const auto it = states_.upper_bound(stop);
        const bool kept_before = it != states_.begin();
        const std::uint32_t nearest = kept_before ? std::prev(it)->first : 0;
        if (head > stop || head < nearest) {
            legs.push_back(Leg{nearest, stop, true, kept_before ? std::prev(it)->second.get() : nullptr});
        } else {
            legs.push_back(Leg{head, stop, false, nullptr});
        }
        head = stop;
    }
}

void BookTape::replay_legs(StampedSide& side, bool bids, std::span<const Leg> legs,
                           std::vector<FrozenSide>& out) const {
    for (std::size_t j = 0; j < legs.size(); ++j) {
        const Leg& leg = legs[j];
        if (leg.restart && leg.origin) {
            side.thaw(bids ? leg.origin->bids : leg.origin->asks);
        } else if (leg.restart) {
            side = StampedSide(bids ? SideBest::Highest : SideBest::Lowest, ticks_per_unit_);
        }
        for (std::uint32_t i = leg.from; i < leg.stop; ++i) {
            const BookEvent& event = events_[i];
            side.apply_event(event.kind, bids ? event.bids : event.asks, i);
        }
        out[j] = side.freeze();
    }
}

// The books at the stops of a run, none of them kept. Each side is one
// thread's alone and its copies are what the whole replay would make of it,
// so the books are the same bits for any number of threads. A short replay
// is not worth handing over: it is made whole on this thread, as is each
// stop while no pool thread is free (the others are asked again after it).
// The legs are planned once: making a stop moves the head exactly where the
// plan of the next leg has it.
void BookTape::replay_books(std::span<const std::uint32_t> stops,
                            std::vector<std::shared_ptr<const FrozenBook>>& books) {
    books.clear();
    books.reserve(stops.size());
    std::vector<Leg> legs;
    legs.reserve(stops.size());
    plan_legs(stops, legs);
    std::size_t events = 0;  // events of the legs not made yet
    for (const Leg& leg : legs) events += leg.stop - leg.from;
    WorkerPool& pool = WorkerPool::instance();
    for (std::size_t done = 0; done < legs.size(); ++done) {
        if (events >= kSplitEvents && pool.has_idle_thread()) {
            replay_sides(std::span(legs).subspan(done), books);
            return;
        }
        advance_to(legs[done].stop);
        books.push_back(std::make_shared<const FrozenBook>(freeze(head_)));
        events -= legs[done].stop - legs[done].from;
    }
}

void BookTape::replay_sides(std::span<const Leg> legs, std::vector<std::shared_ptr<const FrozenBook>>& books) {
    std::vector<FrozenSide> bids, asks;
    bids.reserve(legs.size());
    asks.reserve(legs.size());
    for (std::size_t j = 0; j < legs.size(); ++j) {
        bids.emplace_back(SideBest::Highest);
        asks.emplace_back(SideBest::Lowest);
    }
    WorkerPool::instance().join([&] { replay_legs(head_.bids, true, legs, bids); },
                                [&] { replay_legs(head_.asks, false, legs, asks); });
    head_index_ = legs.back().stop;
    for (std::size_t j = 0; j < legs.size(); ++j) {
        books.push_back(std::make_shared<const FrozenBook>(FrozenBook{std::move(bids[j]), std::move(asks[j])}));
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
