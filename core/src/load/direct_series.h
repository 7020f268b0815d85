// A series array of the direct road, read by the calling thread; a long one
// is shared with a pool worker that reads ahead from a guessed record past
// its middle (series_tail.h). The records are the same either way, for any
// pool size: the worker's part is taken over only where the calling thread
// arrives at its first byte by reading.
#pragma once

#include <cstddef>

#include "load/direct_cursor.h"
#include "load/direct_records.h"
#include "load/series_tail.h"
#include "series.h"
#include "worker_pool.h"

namespace ovra::load {

// When an array is shared with a worker.
struct SplitPolicy {
    // Text from the array's start to the end of the whole text, at least.
    std::size_t min_bytes = std::size_t{16} << 20;
    // Tails taken over, counted for tests; may be null.
    std::size_t* adopted = nullptr;
};

namespace detail {

// The records from the cursor to the array's close. At each record start the
// cursor is compared with the tail's first byte: equal, the tail is taken
// over; past it, the tail is given up.
template <class Record>
bool read_records(Cursor& c, Series<Record>& out, typename DirectShape<Record>::Context& context,
                  SeriesTail<Record>* tail, const SplitPolicy& policy) noexcept {
    for (bool more = true; more;) {
        c.peek();
        if (tail != nullptr) {
            const char* start = tail->start();
            if (start != nullptr && c.here() >= start) {
                if (c.here() == start && tail->adopt(c, out, context)) {
                    if (policy.adopted != nullptr) ++*policy.adopted;
                    return true;
                }
                tail->abandon();
                tail = nullptr;
            }
        }
        Record* r = out.append();
        if (r == nullptr || !read_record(c, *r, context) || !c.next(']', more)) {
            if (tail != nullptr) tail->abandon();
            return false;
        }
    }
    if (tail != nullptr) tail->abandon();
    return true;
}

// Two threads when the pool has a worker to spare; nullopt when it has none
// (then the calling thread reads it all), false when the pool or the join
// could not be set up (no memory: the tree road then answers).
template <class Record>
std::optional<bool> read_records_shared(Cursor& c, Series<Record>& out,
                                        typename DirectShape<Record>::Context& context,
                                        const SplitPolicy& policy) noexcept {
    try {
        WorkerPool& pool = WorkerPool::instance();
        if (pool.size() < 2) return std::nullopt;
        const char* first = c.here();
        const auto rest = static_cast<std::size_t>(c.end() - first);
        SeriesTail<Record> tail(c.text(), first, first + rest / 2, first + policy.min_bytes / 4,
                                c.open_containers());
        bool read = false;
        pool.join([&] { read = read_records(c, out, context, &tail, policy); }, [&] { tail.run(); });
        return read;
    } catch (...) {
        return false;  // the join itself could not be set up: out may be part read
    }
}

}  // namespace detail

// A JSON array of records of one series, appended to `out`.
template <class Record>
bool read_series(Cursor& c, Series<Record>& out, typename DirectShape<Record>::Context& context,
                 const SplitPolicy& policy) noexcept {
    if (!c.enter('[')) return false;
    if (c.take_close(']')) return true;
    c.peek();
    if (static_cast<std::size_t>(c.end() - c.here()) >= policy.min_bytes) {
        if (const auto read = detail::read_records_shared(c, out, context, policy)) return *read;
    }
    return detail::read_records(c, out, context, static_cast<SeriesTail<Record>*>(nullptr), policy);
}

}  // namespace ovra::load
