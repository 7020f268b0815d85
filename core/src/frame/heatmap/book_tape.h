// Books of one replay of the whole stored series, kept at chosen event
// indices within a memory budget. A request for the book after events
// [0, index) is answered from a kept state, or replayed from the nearest
// state before it (or from the live head, when that is nearer). Over the
// budget the kept states are thinned (every second one dropped, and later
// states kept only further apart), so answers cost more replay, never
// other bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "dataset.h"
#include "frame/heatmap/stamped_side.h"

namespace ovra {

class BookTape {
public:
    explicit BookTape(std::span<const BookEvent> events) noexcept
        : events_(events), ticks_per_unit_(choose_ticks_per_unit(events)), head_(ticks_per_unit_) {}

    // The book after events [0, index), index <= the number of events.
    std::shared_ptr<const FrozenBook> book_at(std::uint32_t index);
    // Replays once forward through the ascending `stops`, keeping the book
    // at each as the budget allows.
    //
    // The two sides of a book never meet: a long replay, when a thread of
    // the worker pool is free, walks them side by side, a run of stops at a
    // time; a short one, or one with no thread free, walks the book whole.
    void prepare(std::span<const std::uint32_t> stops);

    // Bytes of the kept states and the head together; lowering the budget
    // thins at once (and drops the head when even that is not enough).
    void set_budget(std::size_t bytes);
    std::size_t memory_bytes() const noexcept { return state_bytes_ + head_.memory_bytes(); }
    std::size_t state_count() const noexcept { return states_.size(); }
    void clear() noexcept;

private:
    // One stop of a run: the book at `stop`, replayed from `from` onward; a
    // leg that restarts first becomes `origin` (the empty book when null).
    struct Leg {
        std::uint32_t from;
        std::uint32_t stop;
        bool restart;
        const FrozenBook* origin;
    };
    // Stops made in one run at most.
    static constexpr std::size_t kMostPerRun = 64;
    // Events a replay spans at least for its sides to be handed to two threads.
    static constexpr std::size_t kSplitEvents = 2048;

    void advance_to(std::uint32_t index);
    // The legs that bring the head through `stops` (none of them kept), as
    // advance_to would take them one after another.
    void plan_legs(std::span<const std::uint32_t> stops, std::vector<Leg>& legs) const;
    // Walks one side of the head through the legs, its copy at each stop in `out`.
    void replay_legs(StampedSide& side, bool bids, std::span<const Leg> legs, std::vector<FrozenSide>& out) const;
    // The books at the ascending `stops`, none of them kept, into `books`.
    void replay_books(std::span<const std::uint32_t> stops, std::vector<std::shared_ptr<const FrozenBook>>& books);
    // The books at the stops of `legs`, a side per thread: both sides walked
    // through the legs at once.
    void replay_sides(std::span<const Leg> legs, std::vector<std::shared_ptr<const FrozenBook>>& books);
    void keep(std::uint32_t index, std::shared_ptr<const FrozenBook> book);
    bool spaced(std::uint32_t index) const noexcept;
    void thin();
    void fit();

    std::span<const BookEvent> events_;
    double ticks_per_unit_;
    StampedBook head_;
    std::uint32_t head_index_ = 0;  // head_ is the book after events [0, head_index_)
    std::map<std::uint32_t, std::shared_ptr<const FrozenBook>> states_;
    std::size_t state_bytes_ = 0;
    std::size_t budget_ = 0;
    std::uint32_t min_gap_ = 0;  // kept states lie at least this many events apart
};

}  // namespace ovra
