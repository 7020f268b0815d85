// The second half of a long record array, read ahead on a pool worker while
// the calling thread reads the array from its start. The worker guesses a
// record start past the middle (a record's bracket after "]," or "},"), and
// reads from there to the array's end into its own series. Its records are
// taken over only when the calling thread, reading normally, arrives at
// exactly that byte at a record start of the same array: the worker then
// read the same bytes at the same depth with the same readers, so it made
// the records the calling thread would have made. In every other case (the
// guess was inside a record, a string or another array, the worker failed or
// had not begun) its work is dropped and the calling thread goes on alone,
// with the same result as without a worker.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>
#include <type_traits>

#include "load/direct_cursor.h"
#include "load/direct_records.h"
#include "series.h"

namespace ovra::load {

template <class Record>
class SeriesTail {
public:
    using Context = typename DirectShape<Record>::Context;

    // `first` is the array's first record, read by the caller at depth
    // `open`; guesses are looked for from `from` on, and while they fail,
    // ever closer to `first` down to `nearest`.
    SeriesTail(std::string_view text, const char* first, const char* from, const char* nearest, int open) noexcept
        : text_(text), first_(first), from_(from), nearest_(nearest), open_(open) {
        // The worker's new memory: plain pages (see series_blocks::Pages).
        records_.use_plain_pages();
        if constexpr (!std::is_same_v<Context, NoContext>) context_.use_plain_pages();
    }

    // Worker side: finds a start and reads to the end of the array, unless
    // the caller has given the tail up already.
    void run() noexcept {
        {
            std::lock_guard lock(mutex_);
            if (state_ != State::Queued) return;
            state_ = State::Reading;
        }
        const bool read = read_tail();
        {
            std::lock_guard lock(mutex_);
            state_ = read ? State::Read : State::Failed;
        }
        done_.notify_all();
    }

    // Caller side: the byte the tail began at, nullptr while it has not
    // settled on one.
    const char* start() const noexcept { return start_.load(std::memory_order_acquire); }

    // Caller side: the tail will not be taken; a worker stops soon.
    void abandon() noexcept {
        abandoned_.store(true, std::memory_order_relaxed);
        std::lock_guard lock(mutex_);
        if (state_ == State::Queued) state_ = State::Dropped;
    }

    // Caller side, at start() and at a record start of the array: waits for
    // the worker; when it read to the array's end, appends its records and
    // levels to `out` and `context` and moves `head` past the array.
    bool adopt(Cursor& head, Series<Record>& out, Context& context) noexcept {
        {
            std::unique_lock lock(mutex_);
            done_.wait(lock, [this] { return state_ != State::Reading; });
            if (state_ != State::Read) return false;
        }
        if (!append_records(out, context, records_, context_)) return false;
        head.continue_from(*cursor_);
        return true;
    }

private:
    enum class State { Queued, Reading, Read, Failed, Dropped };
    static constexpr int kGuessesPerPlace = 512;

    bool given_up() const noexcept { return abandoned_.load(std::memory_order_relaxed); }

    bool read_tail() noexcept {
        if (!find_start()) return false;
        for (bool more = true; more;) {
            if (given_up()) return false;
            Record* r = records_.append();
            if (r == nullptr || !read_record(*cursor_, *r, context_) || !cursor_->next(']', more)) return false;
        }
        return true;
    }

    // Tries guesses from from_ on; a few hundred wrong ones move the place
    // halfway back towards the array's start (the array may end before the
    // middle of the text). A guess stands once one record and what follows
    // it read.
    bool find_start() noexcept {
        for (const char* from = from_; from >= nearest_ && from > first_; from = first_ + (from - first_) / 2) {
            const char* at = from;
            for (int guesses = 0; guesses < kGuessesPerPlace; ++guesses) {
                at = next_guess(at);
                if (at == nullptr || given_up()) break;
                if (read_first(at)) {
                    start_.store(at, std::memory_order_release);
                    return true;
                }
                ++at;
            }
            if (given_up()) return false;
        }
        return false;
    }

    // The next '[' or '{' at or after `at` that follows "]," or "},".
    const char* next_guess(const char* at) const noexcept {
        const char* end = text_.data() + text_.size();
        while (at < end) {
            const void* comma = std::memchr(at, ',', static_cast<std::size_t>(end - at));
            if (comma == nullptr) return nullptr;
            const char* q = static_cast<const char*>(comma);
            if (q + 1 < end && (q[1] == '[' || q[1] == '{') && (q[-1] == ']' || q[-1] == '}')) return q + 1;
            at = q + 1;
        }
        return nullptr;
    }

    bool read_first(const char* at) noexcept {
        records_.clear();
        if constexpr (!std::is_same_v<Context, NoContext>) context_.clear();
        cursor_.emplace(text_, at, open_);
        bool more = false;
        Record* r = records_.append();
        return r != nullptr && read_record(*cursor_, *r, context_) && cursor_->next(']', more) &&
               (!more || cursor_->peek() == '[' || cursor_->peek() == '{');
    }

    const std::string_view text_;
    const char* const first_;
    const char* const from_;
    const char* const nearest_;
    const int open_;

    std::atomic<const char*> start_{nullptr};
    std::atomic<bool> abandoned_{false};
    std::mutex mutex_;
    std::condition_variable done_;
    State state_ = State::Queued;  // guarded by mutex_

    // The worker's reading, handed to the caller only through adopt().
    std::optional<Cursor> cursor_;
    Series<Record> records_;
    Context context_;
};

}  // namespace ovra::load
