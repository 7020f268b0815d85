// The grids of all panels of one frame together: a frame whose grids would
// need more than a fixed number of cells in all is refused before any panel
// allocates, so that a short spec cannot ask for gigabytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "frame/frame_window.h"
#include "panels/time_grid.h"
#include "result.h"
#include "spec.h"

namespace ovra {

// Heatmap cells plus funding / open-interest buckets over all panels of a
// frame (about 320 MB of grid, plus the frame text written from it).
inline constexpr std::int64_t kMaxFrameGridCells = 40'000'000;

// What the budget asks about the book heatmaps of one window: answered from
// the window's book events, or from a handle's heatmap cache.
class BookHeatmapPlanner {
public:
    virtual GridPlan plan(const OvraPanel::BookHeatmap& panel) = 0;
    virtual bool final_book_one_sided() = 0;
    // The panel's own grid error (no "data: " prefix), absent if it has none.
    virtual std::optional<std::string> refusal(const OvraPanel::BookHeatmap& panel) = 0;

protected:
    ~BookHeatmapPlanner() = default;
};

// Ok, or a Data error "frame grids too large: N cells across panels", N the
// running total at the first panel (in spec order) that goes over. A panel
// that refuses its own grid before that gives its own error instead, and no
// panel is computed.
Result<Ok> check_frame_budget(std::span<const OvraPanel> panels, const FrameWindow& window,
                              BookHeatmapPlanner& book);

// The same, the heatmaps planned from the window's book events.
Result<Ok> check_frame_budget(std::span<const OvraPanel> panels, const FrameWindow& window);

}  // namespace ovra
