// What the next frame of a handle would allocate in grids, worked out before
// it runs, so that the fuzz harness can pass over frames too slow to compute
// under the sanitizers whatever the number of grid panels.
#pragma once

#include <cstdint>
#include <optional>

#include "command_dispatcher.h"

namespace ovra_fuzz {

// Grid cells (heatmap cells plus funding / open-interest buckets) the frame
// at `cursor` (nullopt: the cursor "frame" uses) would allocate: 0 when there
// is no frame to compute or the frame-wide budget refuses it before any panel
// runs. Panels that refuse their own grid, and heatmaps over a book that ends
// one-sided, allocate nothing and are not counted; every other panel is, even
// one behind a refusing panel (all panels of a frame run).
std::int64_t planned_frame_cells(const ovra::HandleState& state, std::optional<std::int64_t> cursor);

}  // namespace ovra_fuzz
