// The price ladder of a book heatmap and the grid it is drawn on: shared by
// the stateless computation and the frame cache, so both make the same bits.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "panels/book_side.h"
#include "panels/time_grid.h"
#include "result.h"
#include "spec.h"

namespace ovra {

// Mid of the best bid and best ask keys (total order), the halves taken
// first when a plain sum could overflow.
double heatmap_mid(std::int64_t best_bid_key, std::int64_t best_ask_key) noexcept;

// depth_levels lower band edges around the bin edge of the mid.
std::vector<double> heatmap_ladder(double mid, double price_bin, std::uint32_t depth_levels);

// The upper edge of every band: round8(price_bin + lo).
std::vector<double> heatmap_band_tops(const std::vector<double>& ladder, double price_bin);

// The bucket grid over the book events from first_ts to last_ts, or the
// panel's grid error when it holds too many cells.
Result<TimeGrid, std::string> heatmap_grid(const OvraPanel::BookHeatmap& panel, std::int64_t first_ts,
                                           std::int64_t last_ts);

// One row: bid and ask band sums, each from -0.0 in ascending price order,
// then their rounded total per band. The sums arrays are scratch.
void heatmap_row(const SideView& bids, const SideView& asks, const std::vector<double>& ladder,
                 const std::vector<double>& tops, std::vector<double>& bid_sums, std::vector<double>& ask_sums,
                 double* row);

}  // namespace ovra
