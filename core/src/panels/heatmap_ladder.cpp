// Ladder, band tops, grid check and row sums of the book heatmap.
#include "panels/heatmap_ladder.h"

#include <cmath>

#include "numeric.h"
#include "panels/order_book.h"

namespace ovra {

namespace {

constexpr std::string_view kKind = "book_heatmap";

// Half the largest double: below it the plain midpoint cannot overflow.
constexpr double kHalfMax = 8.988465674311579e307;

}  // namespace

double heatmap_mid(std::int64_t best_bid_key, std::int64_t best_ask_key) noexcept {
    const double best_bid = total_order_value(best_bid_key);
    const double best_ask = total_order_value(best_ask_key);
    if (std::fabs(best_bid) <= kHalfMax && std::fabs(best_ask) <= kHalfMax) {
        return (best_bid + best_ask) * 0.5;
    }
    return best_bid * 0.5 + best_ask * 0.5;
}

std::vector<double> heatmap_ladder(double mid, double price_bin, std::uint32_t depth_levels) {
    const double centre = bin_edge(mid, price_bin);
    const std::int64_t half = depth_levels / 2;
    std::vector<double> ladder(depth_levels);
    for (std::int64_t j = 0; j < static_cast<std::int64_t>(depth_levels); ++j) {
        const double d = static_cast<double>(j - half);
        ladder[static_cast<std::size_t>(j)] = round8(d * price_bin + centre);
    }
    return ladder;
}

std::vector<double> heatmap_band_tops(const std::vector<double>& ladder, double price_bin) {
    std::vector<double> tops(ladder.size());
    for (std::size_t l = 0; l < ladder.size(); ++l) tops[l] = round8(price_bin + ladder[l]);
    return tops;
}

Result<TimeGrid, std::string> heatmap_grid(const OvraPanel::BookHeatmap& panel, std::int64_t first_ts,
                                           std::int64_t last_ts) {
    auto grid = floor_time_grid(kKind, first_ts, last_ts, panel.bucket_ms);
    if (!grid) return grid;
    const Int128 cells = grid.value().count * panel.depth_levels;
    if (cells > kMaxGridCells) {
        return fail(grid_too_large(kKind, grid.value().count) + " x " + std::to_string(panel.depth_levels) +
                    " levels");
    }
    return grid;
}

void heatmap_row(const SideView& bids, const SideView& asks, const std::vector<double>& ladder,
                 const std::vector<double>& tops, std::vector<double>& bid_sums, std::vector<double>& ask_sums,
                 double* row) {
    const std::size_t depth = ladder.size();
    bid_sums.assign(depth, -0.0);
    ask_sums.assign(depth, -0.0);
    add_band_sums(bids, ladder, tops, bid_sums);
    add_band_sums(asks, ladder, tops, ask_sums);
    for (std::size_t l = 0; l < depth; ++l) row[l] = round8(bid_sums[l] + ask_sums[l]);
}

}  // namespace ovra
