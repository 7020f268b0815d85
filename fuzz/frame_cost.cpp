// The harness's estimate of a frame's grid work, from the planners the panels
// themselves use, applied to the window the dispatcher would select.
#include "frame_cost.h"

#include <variant>

#include "frame/frame_budget.h"
#include "frame/frame_window.h"
#include "panels/book_heatmap.h"
#include "panels/funding_oi_divergence.h"

namespace ovra_fuzz {

namespace {

ovra::Int128 allocated_cells(const ovra::OvraPanel& panel, const ovra::FrameWindow& window) {
    if (const auto* heatmap = std::get_if<ovra::OvraPanel::BookHeatmap>(&panel.config)) {
        const ovra::GridPlan plan = ovra::plan_book_heatmap_grid(*heatmap, window);
        return plan.refused || plan.cells == 0 || ovra::final_book_one_sided(window) ? 0 : plan.cells;
    }
    if (const auto* divergence = std::get_if<ovra::OvraPanel::FundingOiDivergence>(&panel.config)) {
        const ovra::GridPlan plan = ovra::plan_funding_oi_divergence_grid(*divergence, window);
        return plan.refused ? 0 : plan.cells;
    }
    return 0;
}

}  // namespace

std::int64_t planned_frame_cells(const ovra::HandleState& state, std::optional<std::int64_t> cursor) {
    const auto& bounds = state.dataset.bounds();
    if (!state.spec || !bounds) return 0;
    const ovra::OvraSpec& spec = *state.spec;
    const std::int64_t at = cursor ? *cursor : spec.to_ts ? *spec.to_ts : bounds->to_ts;
    const std::int64_t upper = (spec.to_ts && *spec.to_ts < at) ? *spec.to_ts : at;
    const ovra::SelectedWindow window =
        ovra::select_window(state.dataset.records(), spec.from_ts, upper, ovra::SeriesOrder::Sorted);
    if (!ovra::check_frame_budget(spec.panels, window.view())) return 0;
    ovra::Int128 total = 0;
    for (const ovra::OvraPanel& panel : spec.panels) total += allocated_cells(panel, window.view());
    // At most 10 million cells a panel, and an input of 8 KB holds a few
    // hundred panels at most: the sum fits.
    return static_cast<std::int64_t>(total);
}

}  // namespace ovra_fuzz
