// One binned, rounded mark per liquidation of the window.
#pragma once

#include "frame.h"
#include "frame/frame_window.h"
#include "spec.h"

namespace ovra {

PanelData::LiquidationMap compute_liquidation_map(const OvraPanel::LiquidationMap& panel,
                                                  const FrameWindow& window);

}  // namespace ovra
