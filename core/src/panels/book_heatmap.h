// Resting book liquidity per time bucket and price level around the final mid.
#pragma once

#include <string>

#include "frame.h"
#include "frame_window.h"
#include "result.h"
#include "spec.h"

namespace ovra {

// Fails only when the grid is too large to hold; the message is written
// without the "data: " prefix.
Result<PanelData::BookHeatmap, std::string> compute_book_heatmap(const OvraPanel::BookHeatmap& panel,
                                                                const FrameWindow& window);

}  // namespace ovra
