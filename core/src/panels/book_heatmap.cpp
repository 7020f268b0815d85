// Book heatmap: resting quantity per time bucket and price level, the
// ladder centred on the mid price of the fully replayed book.
#include "panels/book_heatmap.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "numeric.h"
#include "panels/order_book.h"
#include "panels/side_history.h"
#include "panels/time_grid.h"

namespace ovra {

namespace {

constexpr std::string_view kKind = "book_heatmap";

// Half the largest double: below it the plain midpoint cannot overflow.
constexpr double kHalfMax = 8.988465674311579e307;

double mid_price(const BookSide& bids, const BookSide& asks) {
    const double best_bid = total_order_value(bids.best_key());
    const double best_ask = total_order_value(asks.best_key());
    if (std::fabs(best_bid) <= kHalfMax && std::fabs(best_ask) <= kHalfMax) {
        return (best_bid + best_ask) * 0.5;
    }
    return best_bid * 0.5 + best_ask * 0.5;
}

std::vector<double> price_ladder(double centre, double price_bin, std::uint32_t depth_levels) {
    const std::int64_t half = depth_levels / 2;
    std::vector<double> ladder(depth_levels);
    for (std::int64_t j = 0; j < static_cast<std::int64_t>(depth_levels); ++j) {
        const double d = static_cast<double>(j - half);
        ladder[static_cast<std::size_t>(j)] = round8(d * price_bin + centre);
    }
    return ladder;
}

std::vector<double> band_tops(const std::vector<double>& ladder, double price_bin) {
    std::vector<double> tops(ladder.size());
    for (std::size_t l = 0; l < ladder.size(); ++l) tops[l] = round8(price_bin + ladder[l]);
    return tops;
}

Result<TimeGrid, std::string> checked_grid(const OvraPanel::BookHeatmap& panel, const FrameWindow& window) {
    auto grid = floor_time_grid(kKind, window.book.front().ts, window.book.back().ts, panel.bucket_ms);
    if (!grid) return grid;
    const Int128 cells = grid.value().count * panel.depth_levels;
    if (cells > kMaxGridCells) {
        return fail(grid_too_large(kKind, grid.value().count) + " x " + std::to_string(panel.depth_levels) +
                    " levels");
    }
    return grid;
}

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

// Cells of one row: bid and ask band sums, each from -0.0 in ascending price
// order, then their rounded total.
void fill_row(const SideView& bids, const SideView& asks, const std::vector<double>& ladder,
              const std::vector<double>& tops, std::vector<double>& bid_sums, std::vector<double>& ask_sums,
              double* row) {
    const std::size_t depth = ladder.size();
    bid_sums.assign(depth, -0.0);
    ask_sums.assign(depth, -0.0);
    add_band_sums(bids, ladder, tops, bid_sums);
    add_band_sums(asks, ladder, tops, ask_sums);
    for (std::size_t l = 0; l < depth; ++l) row[l] = round8(bid_sums[l] + ask_sums[l]);
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
            fill_row(bids.view(h), asks.view(h), out.price, tops, bid_sums, ask_sums, row);
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
        fill_row(bids.view(), asks.view(), out.price, tops, bid_sums, ask_sums, row);
    }
}

}  // namespace

GridPlan plan_book_heatmap_grid(const OvraPanel::BookHeatmap& panel, const FrameWindow& window) {
    if (window.book.empty()) return {};
    auto checked = checked_grid(panel, window);
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

    auto checked = checked_grid(panel, window);
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
    const double centre = bin_edge(mid_price(bids, asks), panel.price_bin);
    out.price = price_ladder(centre, panel.price_bin, panel.depth_levels);
    const std::vector<double> tops = band_tops(out.price, panel.price_bin);
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
