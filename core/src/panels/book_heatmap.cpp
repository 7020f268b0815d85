// Book heatmap: resting quantity per time bucket and price level, the
// ladder centred on the mid price of the fully replayed book.
#include "panels/book_heatmap.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "numeric.h"
#include "panels/heatmap_ladder.h"
#include "panels/order_book.h"
#include "panels/side_history.h"
#include "panels/time_grid.h"

namespace ovra {

namespace {

// Entries the bucket copies of one side may hold in all (16 bytes each):
// beyond it the events are replayed a second time instead.
constexpr std::size_t kHistoryBudget = std::size_t{1} << 21;
// Copying an entry costs a small fraction of applying a level; copies are
// kept only while they hold at most this many entries per level applied
// to the side (plus a small allowance), so that a big book with sparse
// updates is replayed twice rather than copied bucket after bucket.
constexpr std::size_t kCopiesPerLevel = 8;
constexpr std::size_t kCopyAllowance = std::size_t{1} << 15;

// Replays one side bucket by bucket, recording a copy of it after every
// bucket that holds events. Leaves the final side in `side`.
void replay_recording(std::span<const BookEvent> events, const TimeGrid& grid, SideId which, BookSide& side,
                      SideHistory& history) {
    std::size_t next = 0;
    std::size_t levels = 0;
    while (next < events.size()) {
        // The grid covers every event and holds few enough buckets that k fits.
        const auto k = static_cast<std::int64_t>((static_cast<Int128>(events[next].ts) - grid.start) / grid.step);
        const Int128 end = grid.bucket_end(k);
        const std::size_t before = next;
        while (next < events.size() && events[next].ts < end) {
            levels += which == SideId::Bids ? events[next].bids.size() : events[next].asks.size();
            ++next;
        }
        replay_side(side, which, events.subspan(before, next - before));
        history.record(k, side, levels * kCopiesPerLevel + kCopyAllowance);
    }
}

// Rows from the recorded copies; a bucket without a copy held no events and
// repeats the row before it (bucket 0 always holds the first event).
// Both histories hold a copy for the same buckets.
void rows_from_history(const SideHistory& bids, const SideHistory& asks, const std::vector<double>& tops,
                       PanelData::BookHeatmap& out) {
    const std::size_t depth = out.price.size();
    std::vector<double> bid_sums(depth);
    std::vector<double> ask_sums(depth);
    std::size_t h = 0;
    for (std::size_t k = 0; k < out.time.size(); ++k) {
        double* row = out.intensity.data() + k * depth;
        if (h < bids.size() && bids.bucket(h) == static_cast<std::int64_t>(k)) {
            heatmap_row(bids.view(h), asks.view(h), out.price, tops, bid_sums, ask_sums, row);
            ++h;
        } else {
            std::copy(row - depth, row, row);
        }
    }
}

// A side laid out flat for the band sums, its arrays reused bucket after bucket.
struct FlatSide {
    std::vector<std::int64_t> stored;
    std::vector<double> qty;
    std::int64_t flip = 0;

    void flatten(const BookSide& side) {
        stored.clear();
        qty.clear();
        side.append_to(stored, qty);
        flip = side.flip();
    }
    SideView view() const noexcept { return {stored, qty, flip}; }
};

// Rows by a second replay from an empty book, bucket by bucket.
void rows_by_replay(std::span<const BookEvent> events, const TimeGrid& grid, const std::vector<double>& tops,
                    PanelData::BookHeatmap& out) {
    const std::size_t depth = out.price.size();
    std::vector<double> bid_sums(depth);
    std::vector<double> ask_sums(depth);
    OrderBook book;
    FlatSide bids;
    FlatSide asks;
    std::size_t next = 0;
    for (std::size_t k = 0; k < out.time.size(); ++k) {
        const Int128 end = grid.bucket_end(static_cast<std::int64_t>(k));
        const std::size_t before = next;
        while (next < events.size() && events[next].ts < end) ++next;
        double* row = out.intensity.data() + k * depth;
        if (k > 0 && next == before) {
            // Unchanged book, unchanged row: sparse data has long quiet stretches.
            std::copy(row - depth, row, row);
            continue;
        }
        book.replay(events.subspan(before, next - before));
        bids.flatten(book.bids());
        asks.flatten(book.asks());
        heatmap_row(bids.view(), asks.view(), out.price, tops, bid_sums, ask_sums, row);
    }
}

}  // namespace

GridPlan plan_book_heatmap_grid(const OvraPanel::BookHeatmap& panel, const FrameWindow& window) {
    if (window.book.empty()) return {};
    auto checked = heatmap_grid(panel, window.book.front().ts, window.book.back().ts);
    if (!checked) return GridPlan{0, true};
    return GridPlan{checked.value().count * panel.depth_levels, false};
}

bool final_book_one_sided(const FrameWindow& window) {
    OrderBook final_book;
    final_book.replay(window.book);
    return final_book.bids().empty() || final_book.asks().empty();
}

Result<PanelData::BookHeatmap, std::string> compute_book_heatmap(const OvraPanel::BookHeatmap& panel,
                                                                const FrameWindow& window) {
    PanelData::BookHeatmap out;
    if (window.book.empty()) return out;

    auto checked = heatmap_grid(panel, window.book.front().ts, window.book.back().ts);
    if (!checked) {
        // A book that ends with an empty side gives the empty form even when
        // its grid could not be held.
        if (final_book_one_sided(window)) return out;
        return fail(std::move(checked).error());
    }
    const TimeGrid grid = checked.value();

    // One replay by bucket ends with the final book; the rows need the final
    // mid first, so they are summed afterwards from copies of the book. The
    // two sides never interact, so each is replayed with its own copies. A
    // panel is one unit of work: both run here, on the panel's own thread.
    const std::size_t n = static_cast<std::size_t>(grid.count);
    BookSide bids(BookSide::Best::Highest);
    BookSide asks(BookSide::Best::Lowest);
    SideHistory bid_history(kHistoryBudget);
    SideHistory ask_history(kHistoryBudget);
    replay_recording(window.book, grid, SideId::Bids, bids, bid_history);
    replay_recording(window.book, grid, SideId::Asks, asks, ask_history);
    if (bids.empty() || asks.empty()) return out;

    const std::size_t depth = panel.depth_levels;
    out.price = heatmap_ladder(heatmap_mid(bids.best_key(), asks.best_key()), panel.price_bin, panel.depth_levels);
    const std::vector<double> tops = heatmap_band_tops(out.price, panel.price_bin);
    out.row_length = depth;
    out.time.resize(n);
    for (std::size_t k = 0; k < n; ++k) out.time[k] = grid.bucket_start(static_cast<std::int64_t>(k));
    out.intensity.resize(n * depth);

    if (bid_history.complete() && ask_history.complete()) {
        rows_from_history(bid_history, ask_history, tops, out);
    } else {
        rows_by_replay(window.book, grid, tops, out);
    }
    return out;
}

}  // namespace ovra
