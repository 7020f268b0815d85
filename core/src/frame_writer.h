// Writes a Frame as compact JSON, straight into one growing buffer.
#pragma once

#include <string>

#include "frame.h"

namespace ovra {

std::string frame_to_json(const Frame& frame);

// Appends one panel object, exactly as frame_to_json writes it inside a frame.
void append_panel_json(std::string& out, const PanelData& panel);

// Appends one liquidation mark object ({"ts":...}), as it stands in a
// liquidation map's "events" list.
void append_liquidation_event_json(std::string& out, const LiquidationMapEvent& event);

}  // namespace ovra
