// Book heatmap: resting quantity per time bucket and price level, the
// ladder centred on the mid price of the fully replayed book.
#include "panels/book_heatmap.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "numeric.h"
#include "panels/order_book.h"
#include "panels/time_grid.h"

namespace ovra {

namespace {

constexpr std::string_view kKind = "book_heatmap";

// Half the largest double: below it the plain midpoint cannot overflow.
constexpr double kHalfMax = 8.988465674311579e307;

double mid_price(const OrderBook& book) {
    const double best_bid = total_order_value(book.bids().best_key());
    const double best_ask = total_order_value(book.asks().best_key());
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
        std::string message(kKind);
        message += " grid too large: ";
        message += int128_text(grid.value().count);
        message += " buckets x ";
        message += std::to_string(panel.depth_levels);
        message += " levels";
        return fail(std::move(message));
    }
    return grid;
}

}  // namespace

Result<PanelData::BookHeatmap, std::string> compute_book_heatmap(const OvraPanel::BookHeatmap& panel,
                                                                const FrameWindow& window) {
    PanelData::BookHeatmap out;
    if (window.book.empty()) return out;

    OrderBook final_book;
    final_book.replay(window.book);
    if (final_book.bids().empty() || final_book.asks().empty()) return out;

    auto checked = checked_grid(panel, window);
    if (!checked) return fail(std::move(checked).error());
    const TimeGrid grid = checked.value();
    const std::size_t n = static_cast<std::size_t>(grid.count);
    const std::size_t depth = panel.depth_levels;

    const double centre = bin_edge(mid_price(final_book), panel.price_bin);
    out.price = price_ladder(centre, panel.price_bin, panel.depth_levels);
    const std::vector<double> tops = band_tops(out.price, panel.price_bin);
    out.row_length = depth;
    out.time.resize(n);
    out.intensity.resize(n * depth);

    OrderBook book;
    std::size_t next = 0;
    std::vector<double> bid_sums(depth);
    std::vector<double> ask_sums(depth);
    for (std::size_t k = 0; k < n; ++k) {
        const Int128 end = grid.bucket_end(static_cast<std::int64_t>(k));
        const std::size_t before = next;
        while (next < window.book.size() && window.book[next].ts < end) ++next;
        book.replay(window.book.subspan(before, next - before));
        out.time[k] = grid.bucket_start(static_cast<std::int64_t>(k));
        double* row = out.intensity.data() + k * depth;
        if (k > 0 && next == before) {
            // Unchanged book, unchanged row: sparse data has long quiet stretches.
            std::copy(row - depth, row, row);
            continue;
        }
        bid_sums.assign(depth, -0.0);
        ask_sums.assign(depth, -0.0);
        add_band_sums(book.bids(), out.price, tops, bid_sums);
        add_band_sums(book.asks(), out.price, tops, ask_sums);
        for (std::size_t l = 0; l < depth; ++l) row[l] = round8(bid_sums[l] + ask_sums[l]);
    }
    return out;
}

}  // namespace ovra
