// The frame-wide grid budget, counted in spec order before any panel runs.
#include "frame/frame_budget.h"

#include <optional>
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

// The error of a panel that refuses its own grid. Computing the panel finds
// it before anything is allocated; the other panels need not run at all.
Result<Ok> own_refusal(const OvraPanel& panel, const FrameWindow& window) {
    struct Refusal {
        const FrameWindow& window;
        std::optional<std::string> operator()(const OvraPanel::BookHeatmap& p) const {
            auto r = compute_book_heatmap(p, window);
            return r ? std::nullopt : std::optional<std::string>(std::move(r).error());
        }
        std::optional<std::string> operator()(const OvraPanel::FundingOiDivergence& p) const {
            auto r = compute_funding_oi_divergence(p, window);
            return r ? std::nullopt : std::optional<std::string>(std::move(r).error());
        }
        std::optional<std::string> operator()(const OvraPanel::Footprint&) const { return std::nullopt; }
        std::optional<std::string> operator()(const OvraPanel::LiquidationMap&) const { return std::nullopt; }
    };
    auto message = std::visit(Refusal{window}, panel.config);
    if (!message) return Ok{};
    return fail(OvraError{ErrorKind::Data, std::move(*message)});
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
        // Earlier panels all fit, so this panel's own refusal is the frame's
        // answer; returning it here keeps the later panels from allocating.
        if (plan.refused) return own_refusal(panel, window);
        total += plan.cells;
        if (total > kMaxFrameGridCells) {
            return fail(OvraError{ErrorKind::Data, "frame grids too large: " + int128_text(total) + " cells across panels"});
        }
    }
    return Ok{};
}

}  // namespace ovra
