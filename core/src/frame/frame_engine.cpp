// compute_frame: validation, cursor clamping, window selection, and the
// panels evaluated on the worker pool by recursive halving, in spec order.
#include "frame/frame_engine.h"

#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

#include "frame/frame_budget.h"
#include "frame/frame_window.h"
#include "panels/book_heatmap.h"
#include "panels/footprint.h"
#include "panels/funding_oi_divergence.h"
#include "panels/liquidation_map.h"
#include "spec_validation.h"
#include "worker_pool.h"

namespace ovra {

namespace {

// A grid that cannot be held is reported by the panel itself; that is the
// only failure a panel has.
Result<PanelData> grid_failure(std::string message) { return fail(OvraError{ErrorKind::Data, std::move(message)}); }

Result<PanelData> compute_panel(const OvraPanel& panel, const FrameWindow& window) {
    struct Compute {
        const FrameWindow& window;
        Result<PanelData> operator()(const OvraPanel::Footprint& p) const {
            return PanelData{compute_footprint(p, window)};
        }
        Result<PanelData> operator()(const OvraPanel::BookHeatmap& p) const {
            auto r = compute_book_heatmap(p, window);
            if (!r) return grid_failure(std::move(r).error());
            return PanelData{std::move(r).value()};
        }
        Result<PanelData> operator()(const OvraPanel::LiquidationMap& p) const {
            return PanelData{compute_liquidation_map(p, window)};
        }
        Result<PanelData> operator()(const OvraPanel::FundingOiDivergence& p) const {
            auto r = compute_funding_oi_divergence(p, window);
            if (!r) return grid_failure(std::move(r).error());
            return PanelData{std::move(r).value()};
        }
    };
    try {
        return std::visit(Compute{window}, panel.config);
    } catch (const std::length_error&) {
        // A container asked for more than it can ever hold: exhausted memory.
        throw std::bad_alloc();
    }
}

// One slot per panel, filled by whichever thread computes that panel; the
// slots are distinct objects, so the threads share nothing writable.
using Slots = std::vector<std::optional<Result<PanelData>>>;

// Computes panels [begin, end): one panel on this thread, more split in two
// halves (the first holding the floor of half) offered to the pool.
void evaluate(WorkerPool& pool, std::span<const OvraPanel> panels, const FrameWindow& window, Slots& slots,
              std::size_t begin, std::size_t end) {
    if (end - begin == 1) {
        slots[begin].emplace(compute_panel(panels[begin], window));
        return;
    }
    const std::size_t middle = begin + (end - begin) / 2;
    pool.join([&] { evaluate(pool, panels, window, slots, begin, middle); },
              [&] { evaluate(pool, panels, window, slots, middle, end); });
}

// The joined list in spec order, or the failure of the first failing panel.
Result<std::vector<PanelData>> collect(Slots& slots) {
    for (auto& slot : slots) {
        if (!*slot) return fail(std::move(*slot).error());
    }
    std::vector<PanelData> panels;
    panels.reserve(slots.size());
    for (auto& slot : slots) panels.push_back(std::move(*slot).value());
    return panels;
}

Result<std::vector<PanelData>> evaluate_panels(std::span<const OvraPanel> panels, const FrameWindow& window) {
    if (panels.empty()) return std::vector<PanelData>{};
    Slots slots(panels.size());
    if (panels.size() == 1) {
        // Nothing to spread: the calling thread does it, no pool is needed.
        slots[0].emplace(compute_panel(panels[0], window));
    } else {
        evaluate(WorkerPool::instance(), panels, window, slots, 0, panels.size());
    }
    return collect(slots);
}

}  // namespace

Result<Frame> compute_frame(const Dataset& dataset, const OvraSpec& spec, std::int64_t cursor, SeriesOrder order) {
    if (auto valid = validate_spec(spec); !valid) return fail(std::move(valid).error());
    const std::int64_t upper = (spec.to_ts && *spec.to_ts < cursor) ? *spec.to_ts : cursor;
    const SelectedWindow window = select_window(dataset, spec.from_ts, upper, order);
    if (auto budget = check_frame_budget(spec.panels, window.view()); !budget) return fail(std::move(budget).error());
    auto panels = evaluate_panels(spec.panels, window.view());
    if (!panels) return fail(std::move(panels).error());
    Frame frame;
    frame.symbol = spec.symbol;
    frame.cursor_ts = upper;
    frame.panels = std::move(panels).value();
    return frame;
}

}  // namespace ovra
