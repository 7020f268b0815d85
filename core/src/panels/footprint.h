// Buy and sell volume per price bin over the window's trades.
#pragma once

#include "frame.h"
#include "frame/frame_window.h"
#include "spec.h"

namespace ovra {

PanelData::Footprint compute_footprint(const OvraPanel::Footprint& panel, const FrameWindow& window);

}  // namespace ovra
