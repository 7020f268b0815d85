// Funding rate, open interest and candle close carried on one time grid.
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
Result<PanelData::FundingOiDivergence, std::string> compute_funding_oi_divergence(
    const OvraPanel::FundingOiDivergence& panel, const FrameWindow& window);

// The grid this panel would allocate for the window, without allocating it.
GridPlan plan_funding_oi_divergence_grid(const OvraPanel::FundingOiDivergence& panel, const FrameWindow& window);

}  // namespace ovra
