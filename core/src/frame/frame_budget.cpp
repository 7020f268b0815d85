// The frame-wide grid budget, counted in spec order before any panel runs.
#include "frame/frame_budget.h"

#include <optional>
#include <string>

#include "panels/book_heatmap.h"
#include "panels/funding_oi_divergence.h"

namespace ovra {

namespace {

GridPlan plan_grid(const OvraPanel& panel, const FrameWindow& window, BookHeatmapPlanner& book) {
    struct Plan {
        const FrameWindow& window;
        BookHeatmapPlanner& book;
        GridPlan operator()(const OvraPanel::BookHeatmap& p) const { return book.plan(p); }
        GridPlan operator()(const OvraPanel::FundingOiDivergence& p) const {
            return plan_funding_oi_divergence_grid(p, window);
        }
        GridPlan operator()(const OvraPanel::Footprint&) const { return {}; }
        GridPlan operator()(const OvraPanel::LiquidationMap&) const { return {}; }
    };
    return std::visit(Plan{window, book}, panel.config);
}

// The error of a panel that refuses its own grid. Computing the panel finds
// it before anything is allocated; the other panels need not run at all.
Result<Ok> own_refusal(const OvraPanel& panel, const FrameWindow& window, BookHeatmapPlanner& book) {
    struct Refusal {
        const FrameWindow& window;
        BookHeatmapPlanner& book;
        std::optional<std::string> operator()(const OvraPanel::BookHeatmap& p) const { return book.refusal(p); }
        std::optional<std::string> operator()(const OvraPanel::FundingOiDivergence& p) const {
            auto r = compute_funding_oi_divergence(p, window);
            return r ? std::nullopt : std::optional<std::string>(std::move(r).error());
        }
        std::optional<std::string> operator()(const OvraPanel::Footprint&) const { return std::nullopt; }
        std::optional<std::string> operator()(const OvraPanel::LiquidationMap&) const { return std::nullopt; }
    };
    auto message = std::visit(Refusal{window, book}, panel.config);
    if (!message) return Ok{};
    return fail(OvraError{ErrorKind::Data, std::move(*message)});
}

// The heatmaps planned from the window itself, each question answered afresh.
class WindowBookPlanner final : public BookHeatmapPlanner {
public:
    explicit WindowBookPlanner(const FrameWindow& window) noexcept : window_(window) {}

    GridPlan plan(const OvraPanel::BookHeatmap& panel) override { return plan_book_heatmap_grid(panel, window_); }
    bool final_book_one_sided() override { return ovra::final_book_one_sided(window_); }
    std::optional<std::string> refusal(const OvraPanel::BookHeatmap& panel) override {
        auto r = compute_book_heatmap(panel, window_);
        return r ? std::nullopt : std::optional<std::string>(std::move(r).error());
    }

private:
    const FrameWindow& window_;
};

}  // namespace

Result<Ok> check_frame_budget(std::span<const OvraPanel> panels, const FrameWindow& window,
                              BookHeatmapPlanner& book) {
    Int128 total = 0;
    for (const OvraPanel& panel : panels) {
        const GridPlan plan = plan_grid(panel, window, book);
        const bool over = plan.refused || total + plan.cells > kMaxFrameGridCells;
        // A heatmap over a one-sided final book answers its empty form and
        // allocates nothing; the replay that tells is paid only when it matters.
        if (over && std::holds_alternative<OvraPanel::BookHeatmap>(panel.config) && book.final_book_one_sided()) {
            continue;
        }
        // Earlier panels all fit, so this panel's own refusal is the frame's
        // answer; returning it here keeps the later panels from allocating.
        if (plan.refused) return own_refusal(panel, window, book);
        total += plan.cells;
        if (total > kMaxFrameGridCells) {
            return fail(OvraError{ErrorKind::Data, "frame grids too large: " + int128_text(total) + " cells across panels"});
        }
    }
    return Ok{};
}

Result<Ok> check_frame_budget(std::span<const OvraPanel> panels, const FrameWindow& window) {
    WindowBookPlanner book(window);
    return check_frame_budget(panels, window, book);
}

}  // namespace ovra
