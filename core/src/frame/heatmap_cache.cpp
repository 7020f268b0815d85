// The book heatmap answered from kept books and kept row texts. Bucket
// starts are floor multiples of bucket_ms from time 0, so a window's
// bucket k ends at the same event index whatever the window; its row is
// the book of the whole-series replay at that index restricted to entries
// stamped >= the window's first event, summed against the window's ladder.
// Rows whose (end, first) and ladder were seen before are copied as text.
// Anything the cache cannot hold costs replay, never other bits; a failed
// allocation drops the cache and answers by the stateless road.
#include "frame/heatmap_cache.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <mutex>
#include <new>
#include <optional>
#include <span>
#include <vector>

#include "frame/frame_window.h"
#include "frame/heatmap/book_tape.h"
#include "frame/heatmap/bucket_ends.h"
#include "frame/heatmap/band_cells.h"
#include "frame_writer.h"
#include "json/json_writer.h"
#include "panels/book_heatmap.h"
#include "panels/heatmap_ladder.h"
#include "worker_pool.h"

namespace ovra {

namespace {

FrameWindow book_window(const Dataset& dataset, std::size_t first, std::size_t last) {
    FrameWindow window;
    window.book = std::span<const BookEvent>(dataset.book).subspan(first, last - first);
    return window;
}

Result<Ok, std::string> append_stateless(const OvraPanel::BookHeatmap& panel, const FrameWindow& window,
                                         std::string& out) {
    auto computed = compute_book_heatmap(panel, window);
    if (!computed) return fail(std::move(computed).error());
    append_panel_json(out, PanelData{std::move(computed).value()});
    return Ok{};
}

void append_empty(std::string& out) { append_panel_json(out, PanelData{PanelData::BookHeatmap{}}); }

// Heatmap cache locks this thread holds. Books are replayed and rows summed
// on the worker pool under a cache's lock, and a pool thread waiting there
// may be handed another panel, as may any thread working on a task the
// holder waits for: such a panel only tries its cache's lock (never one
// this thread holds already), and answers by the stateless road when it
// does not get it, so that no thread waits for a lock while its holder
// waits for that thread.
constexpr int kMaxHeld = 8;
thread_local const std::mutex* locks_held[kMaxHeld];
thread_local int lock_count = 0;

class CacheLock {
public:
    explicit CacheLock(std::mutex& mutex) : lock_(mutex, std::defer_lock) {
        if (lock_count == 0 && !WorkerPool::under_lock()) {
            lock_.lock();
        } else if (lock_count < kMaxHeld &&
                   std::find(locks_held, locks_held + lock_count, &mutex) == locks_held + lock_count) {
            (void)lock_.try_lock();
        }
        if (lock_.owns_lock()) {
            locks_held[lock_count++] = &mutex;
            under_lock_.emplace();
        }
    }
    ~CacheLock() {
        if (lock_.owns_lock()) --lock_count;  // held locks are let go in reverse order
    }
    CacheLock(const CacheLock&) = delete;
    CacheLock& operator=(const CacheLock&) = delete;
    bool held() const noexcept { return lock_.owns_lock(); }

private:
    std::unique_lock<std::mutex> lock_;
    std::optional<WorkerPool::UnderLock> under_lock_;
};

// A row summed whole from the book, as the stateless road sums it.
void append_row_text(const FrozenBook& book, std::uint32_t from, const std::vector<double>& lo,
                     const std::vector<double>& hi, json::JsonWriter& w) {
    thread_local std::vector<std::int64_t> bid_keys, ask_keys;
    thread_local std::vector<double> bid_qty, ask_qty, bid_sums, ask_sums;
    const SideView bids = book.bids.view_from(from, bid_keys, bid_qty);
    const SideView asks = book.asks.view_from(from, ask_keys, ask_qty);
    thread_local std::vector<double> cells;
    cells.resize(lo.size());
    heatmap_row(bids, asks, lo, hi, bid_sums, ask_sums, cells.data());
    w.raw('[');
    for (std::size_t l = 0; l < cells.size(); ++l) {
        if (l) w.raw(',');
        w.f64(cells[l]);
    }
    w.raw(']');
}

}  // namespace

struct HeatmapCache::Impl {
    explicit Impl(const Dataset& dataset) noexcept : tape(dataset.book), buckets(dataset.book) {
        tape.set_budget(limit);
    }

    std::mutex mutex;
    BookTape tape;
    BucketEnds buckets;
    BandCells cells;
    std::vector<std::uint32_t> ends;  // scratch: the bucket ends of the window asked for
    std::size_t last_size = 0;        // text of the panel answered last
    std::size_t limit = kDefaultMemoryLimit;
    std::atomic<std::size_t> bytes{0};
    std::atomic<std::size_t> states{0};

    // Bucket ends may take a sixteenth of the limit, cells a quarter, the
    // books the rest.
    std::size_t bucket_budget() const noexcept { return limit / 16; }
    void fit() {
        buckets.fit(bucket_budget());
        cells.fit(limit / 4);
        tape.set_budget(limit - cells.memory_bytes() - buckets.memory_bytes());
        bytes = tape.memory_bytes() + cells.memory_bytes() + buckets.memory_bytes();
        states = tape.state_count();
    }
    void drop() noexcept {
        tape.clear();
        buckets.clear();
        cells.clear();
        bytes = 0;
        states = 0;
    }

    bool one_sided(std::size_t first, std::size_t last);
    void append(const OvraPanel::BookHeatmap& panel, std::size_t first, std::size_t last, const TimeGrid& grid,
                std::string& out);
};

bool HeatmapCache::Impl::one_sided(std::size_t first, std::size_t last) {
    const auto from = static_cast<std::uint32_t>(first);
    const auto book = tape.book_at(static_cast<std::uint32_t>(last));
    return !book->bids.holds_from(from) || !book->asks.holds_from(from);
}

void HeatmapCache::Impl::append(const OvraPanel::BookHeatmap& panel, std::size_t first, std::size_t last,
                                const TimeGrid& grid, std::string& out) {
    const auto from = static_cast<std::uint32_t>(first);
    const auto to = static_cast<std::uint32_t>(last);
    buckets.window_ends(grid, first, last, bucket_budget(), ends);
    // The books of the bucket ends not kept yet are made in one pass
    // forward, kept as the budget allows.
    tape.prepare(ends);
    const auto final_book = tape.book_at(to);
    if (!final_book->bids.holds_from(from) || !final_book->asks.holds_from(from)) {
        append_empty(out);
        return;
    }
    const double mid = heatmap_mid(final_book->bids.best_key_from(from), final_book->asks.best_key_from(from));
    const std::vector<double> lo = heatmap_ladder(mid, panel.price_bin, panel.depth_levels);
    const std::vector<double> hi = heatmap_band_tops(lo, panel.price_bin);
    const bool kept = cells.place(panel.price_bin, lo, hi);

    // Written in place; on a failed allocation the caller cuts `out` back.
    json::JsonWriter w;
    w.text().swap(out);
    struct GiveBack {
        json::JsonWriter& w;
        std::string& out;
        ~GiveBack() { out.swap(w.text()); }
    } give_back{w, out};
    const std::size_t before = w.text().size();
    // A first answer has no size to go by: a cell is rarely written in
    // fewer than four characters, and the times and prices take about 16.
    const std::size_t guess =
        last_size != 0 ? last_size + last_size / 8 : ends.size() * (lo.size() * 4 + 16) + lo.size() * 16;
    w.text().reserve(before + guess);
    w.raw("{\"kind\":\"book_heatmap\",\"time\":[");
    for (std::size_t k = 0; k < ends.size(); ++k) {
        if (k) w.raw(',');
        w.i64(grid.bucket_start(static_cast<std::int64_t>(k)));
    }
    w.raw("],\"price\":[");
    for (std::size_t l = 0; l < lo.size(); ++l) {
        if (l) w.raw(',');
        w.f64(lo[l]);
    }
    w.raw("],\"intensity\":[");
    const auto whole = [&](const FrozenBook& book, std::string& text) {
        json::JsonWriter row;
        append_row_text(book, from, lo, hi, row);
        text += row.text();
    };
    if (kept) {
        const auto book_at_end = [&](std::uint32_t end) { return end == to ? final_book : tape.book_at(end); };
        cells.append_rows(ends, from, book_at_end, whole, w.text());
    } else {
        for (std::size_t k = 0; k < ends.size(); ++k) {
            if (k) w.raw(',');
            whole(*(ends[k] == to ? final_book : tape.book_at(ends[k])), w.text());
        }
    }
    w.raw("]}");
    last_size = w.text().size() - before;
}

HeatmapCache::HeatmapCache(const Dataset& dataset) noexcept
    : dataset_(&dataset), impl_(new (std::nothrow) Impl(dataset)) {}

HeatmapCache::~HeatmapCache() = default;
HeatmapCache::HeatmapCache(HeatmapCache&&) noexcept = default;
HeatmapCache& HeatmapCache::operator=(HeatmapCache&&) noexcept = default;

GridPlan HeatmapCache::plan(const OvraPanel::BookHeatmap& panel, std::size_t first, std::size_t last) {
    return plan_book_heatmap_grid(panel, book_window(*dataset_, first, last));
}

bool HeatmapCache::final_book_one_sided(std::size_t first, std::size_t last) {
    if (impl_ && dataset_->book.size() < std::numeric_limits<std::uint32_t>::max()) {
        const CacheLock lock(impl_->mutex);
        if (!lock.held()) return ovra::final_book_one_sided(book_window(*dataset_, first, last));
        try {
            const bool answer = impl_->one_sided(first, last);
            impl_->fit();
            return answer;
        } catch (const std::bad_alloc&) {
            impl_->drop();
        }
    }
    return ovra::final_book_one_sided(book_window(*dataset_, first, last));
}

Result<Ok, std::string> HeatmapCache::append_panel(const OvraPanel::BookHeatmap& panel, std::size_t first,
                                                   std::size_t last, std::string& out) {
    const FrameWindow window = book_window(*dataset_, first, last);
    if (window.book.empty()) {
        append_empty(out);
        return Ok{};
    }
    auto grid = heatmap_grid(panel, window.book.front().ts, window.book.back().ts);
    // A refused grid (rare) answers by the stateless road, which tells an
    // empty form from the error.
    if (!grid || !impl_ || dataset_->book.size() >= std::numeric_limits<std::uint32_t>::max()) {
        return append_stateless(panel, window, out);
    }
    const std::size_t before = out.size();
    {
        const CacheLock lock(impl_->mutex);
        if (!lock.held()) return append_stateless(panel, window, out);
        try {
            impl_->append(panel, first, last, grid.value(), out);
            impl_->fit();
            return Ok{};
        } catch (const std::bad_alloc&) {
            impl_->drop();
        }
    }
    out.resize(before);
    return append_stateless(panel, window, out);
}

std::size_t HeatmapCache::memory_bytes() const noexcept { return impl_ ? impl_->bytes.load() : 0; }

std::size_t HeatmapCache::state_count() const noexcept { return impl_ ? impl_->states.load() : 0; }

void HeatmapCache::set_memory_limit(std::size_t bytes) noexcept {
    if (!impl_) return;
    std::lock_guard lock(impl_->mutex);
    impl_->limit = bytes;
    try {
        impl_->fit();
    } catch (...) {
        impl_->drop();
    }
}

}  // namespace ovra
