// The frame-wide grid budget, counted in spec order before any panel runs.
#include "frame_budget.h"

#include <string>

#include "panels/book_heatmap.h"
#include "panels/funding_oi_divergence.h"

namespace ovra {

namespace {

GridPlan plan_grid(const OvraPanel& panel, const FrameWindow& window) {
    struct Plan {
        const FrameWindow& window;
        GridPlan operator()(const OvraPanel::BookHeatmap& p) const { return plan_book_heatmap_grid(p, window); }
        GridPlan operator()(const OvraPanel::FundingOiDivergence& p) const {
            return plan_funding_oi_divergence_grid(p, window);
        }
        GridPlan operator()(const OvraPanel::Footprint&) const { return {}; }
        GridPlan operator()(const OvraPanel::LiquidationMap&) const { return {}; }
    };
    return std::visit(Plan{window}, panel.config);
}

}  // namespace

Result<Ok> check_frame_budget(std::span<const OvraPanel> panels, const FrameWindow& window) {
    Int128 total = 0;
    for (const OvraPanel& panel : panels) {
        const GridPlan plan = plan_grid(panel, window);
        const bool over = plan.refused || total + plan.cells > kMaxFrameGridCells;
        // A heatmap over a one-sided final book answers its empty form and
        // allocates nothing; the replay that tells is paid only when it matters.
        if (over && std::holds_alternative<OvraPanel::BookHeatmap>(panel.config) && final_book_one_sided(window)) {
            continue;
        }
        if (plan.refused) return Ok{};  // the panel reports its own grid first
        total += plan.cells;
        if (total > kMaxFrameGridCells) {
            return fail(OvraError{ErrorKind::Data, "frame grids too large: " + int128_text(total) + " cells across panels"});
        }
    }
    return Ok{};
}

}  // namespace ovra
