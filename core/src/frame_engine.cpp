#include "frame_engine.h"

#include "frame_window.h"
#include "panels/book_heatmap.h"
#include "panels/footprint.h"
#include "panels/funding_oi_divergence.h"
#include "panels/liquidation_map.h"
#include "spec_validation.h"

namespace ovra {

namespace {

// Provisional engine: serial, and assumes the dataset is sorted by ts.
template <class Record>
std::span<const Record> select(const std::vector<Record>& records, const std::optional<std::int64_t>& from,
                               std::int64_t upper) {
    std::size_t begin = 0;
    while (begin < records.size() && from && records[begin].ts < *from) ++begin;
    std::size_t end = begin;
    while (end < records.size() && records[end].ts <= upper) ++end;
    return std::span<const Record>(records.data() + begin, end - begin);
}

Result<PanelData> compute_panel(const OvraPanel& panel, const FrameWindow& window) {
    struct Compute {
        const FrameWindow& window;
        Result<PanelData> operator()(const OvraPanel::Footprint& p) const {
            return PanelData{compute_footprint(p, window)};
        }
        Result<PanelData> operator()(const OvraPanel::BookHeatmap& p) const {
            auto r = compute_book_heatmap(p, window);
            if (!r) return fail(OvraError{ErrorKind::Data, std::move(r).error()});
            return PanelData{std::move(r).value()};
        }
        Result<PanelData> operator()(const OvraPanel::LiquidationMap& p) const {
            return PanelData{compute_liquidation_map(p, window)};
        }
        Result<PanelData> operator()(const OvraPanel::FundingOiDivergence& p) const {
            auto r = compute_funding_oi_divergence(p, window);
            if (!r) return fail(OvraError{ErrorKind::Data, std::move(r).error()});
            return PanelData{std::move(r).value()};
        }
    };
    return std::visit(Compute{window}, panel.config);
}

}  // namespace

Result<Frame> compute_frame(const Dataset& dataset, const OvraSpec& spec, std::int64_t cursor) {
    if (auto valid = validate_spec(spec); !valid) return fail(std::move(valid).error());
    const std::int64_t upper = (spec.to_ts && *spec.to_ts < cursor) ? *spec.to_ts : cursor;
    FrameWindow window{
        select(dataset.candles, spec.from_ts, upper), select(dataset.trades, spec.from_ts, upper),
        select(dataset.book, spec.from_ts, upper),    select(dataset.funding, spec.from_ts, upper),
        select(dataset.oi, spec.from_ts, upper),      select(dataset.liquidations, spec.from_ts, upper),
    };
    Frame frame;
    frame.symbol = spec.symbol;
    frame.cursor_ts = upper;
    frame.panels.reserve(spec.panels.size());
    for (const OvraPanel& panel : spec.panels) {
        auto r = compute_panel(panel, window);
        if (!r) return fail(std::move(r).error());
        frame.panels.push_back(std::move(r).value());
    }
    return frame;
}

}  // namespace ovra
