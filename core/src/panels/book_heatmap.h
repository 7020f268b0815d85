// Resting book liquidity per time bucket and price level around the final mid.
#pragma once

#include <string>

#include "frame.h"
#include "frame/frame_window.h"
#include "panels/time_grid.h"
#include "result.h"
#include "spec.h"

namespace ovra {

// Fails only when the grid is too large to hold; the message is written
// without the "data: " prefix.
Result<PanelData::BookHeatmap, std::string> compute_book_heatmap(const OvraPanel::BookHeatmap& panel,
                                                                const FrameWindow& window);

// The grid this panel would allocate for the window, without allocating it
// (and without the replay that tells whether the final book is one-sided).
GridPlan plan_book_heatmap_grid(const OvraPanel::BookHeatmap& panel, const FrameWindow& window);

// Whether the window's final book lacks bids or asks: such a heatmap answers
// its empty form and allocates no grid.
bool final_book_one_sided(const FrameWindow& window);

}  // namespace ovra
