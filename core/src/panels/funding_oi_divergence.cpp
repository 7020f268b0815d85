// Funding / open interest: funding rate, open interest and candle close
// carried forward on one floor-divided time grid.
#include "panels/funding_oi_divergence.h"

#include <algorithm>
#include <optional>
#include <span>

#include "numeric.h"
#include "panels/time_grid.h"

namespace ovra {

namespace {

constexpr std::string_view kKind = "funding_oi_divergence";

// A forward-only read position over one series and the value it carries.
template <class Record, double Record::*Field>
struct Carry {
    std::span<const Record> series;
    std::size_t next = 0;
    double value = 0.0;

    void advance_before(Int128 end) {
        while (next < series.size() && series[next].ts < end) value = series[next++].*Field;
    }
};

// Smallest first ts and largest last ts over the non-empty series.
template <class Series>
void widen_span(const Series& series, bool& any, std::int64_t& lo, std::int64_t& hi) {
    if (series.empty()) return;
    lo = any ? std::min(lo, series.front().ts) : series.front().ts;
    hi = any ? std::max(hi, series.back().ts) : series.back().ts;
    any = true;
}

// The grid over the span of the three series: absent when all are empty,
// refused when it starts before the 64-bit range or is too large to hold.
Result<std::optional<TimeGrid>, std::string> checked_grid(const OvraPanel::FundingOiDivergence& panel,
                                                         const FrameWindow& window) {
    bool any = false;
    std::int64_t lo = 0;
    std::int64_t hi = 0;
    widen_span(window.funding, any, lo, hi);
    widen_span(window.oi, any, lo, hi);
    widen_span(window.candles, any, lo, hi);
    if (!any) return std::optional<TimeGrid>();

    auto checked = floor_time_grid(kKind, lo, hi, panel.bucket_ms);
    if (!checked) return fail(std::move(checked).error());
    const TimeGrid grid = checked.value();
    if (grid.count > kMaxGridCells) return fail(grid_too_large(kKind, grid.count));
    return std::optional<TimeGrid>(grid);
}

}  // namespace

GridPlan plan_funding_oi_divergence_grid(const OvraPanel::FundingOiDivergence& panel, const FrameWindow& window) {
    auto checked = checked_grid(panel, window);
    if (!checked) return GridPlan{0, true};
    return GridPlan{checked.value() ? checked.value()->count : 0, false};
}

Result<PanelData::FundingOiDivergence, std::string> compute_funding_oi_divergence(
    const OvraPanel::FundingOiDivergence& panel, const FrameWindow& window) {
    PanelData::FundingOiDivergence out;
    auto checked = checked_grid(panel, window);
    if (!checked) return fail(std::move(checked).error());
    if (!checked.value()) return out;
    const TimeGrid grid = *checked.value();

    const std::size_t n = static_cast<std::size_t>(grid.count);
    out.time.resize(n);
    out.funding.resize(n);
    out.oi.resize(n);
    out.price.resize(n);
    Carry<FundingEvent, &FundingEvent::rate> funding{window.funding};
    Carry<OiEvent, &OiEvent::oi> oi{window.oi};
    Carry<Candle, &Candle::close> close{window.candles};
    for (std::size_t k = 0; k < n; ++k) {
        const Int128 end = grid.bucket_end(static_cast<std::int64_t>(k));
        funding.advance_before(end);
        oi.advance_before(end);
        close.advance_before(end);
        out.time[k] = grid.bucket_start(static_cast<std::int64_t>(k));
        out.funding[k] = round8(funding.value);
        out.oi[k] = round8(oi.value);
        out.price[k] = round8(close.value);
    }
    return out;
}

}  // namespace ovra
