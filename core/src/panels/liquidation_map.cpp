// Liquidation map: one binned, rounded mark per liquidation of the window,
// ordered by time, then bin (total order), then side.
#include "panels/liquidation_map.h"

#include <algorithm>

#include "numeric.h"

namespace ovra {

namespace {

bool mark_before(const LiquidationMapEvent& a, const LiquidationMapEvent& b) noexcept {
    if (a.ts != b.ts) return a.ts < b.ts;
    const std::int64_t ka = total_order_key(a.price_bin);
    const std::int64_t kb = total_order_key(b.price_bin);
    if (ka != kb) return ka < kb;
    return a.side < b.side;  // Long before Short
}

}  // namespace

PanelData::LiquidationMap compute_liquidation_map(const OvraPanel::LiquidationMap& panel,
                                                  const FrameWindow& window) {
    PanelData::LiquidationMap out;
    out.events.reserve(window.liquidations.size());
    for (const LiquidationEvent& event : window.liquidations) {
        out.events.push_back(
            LiquidationMapEvent{event.ts, bin_edge(event.price, panel.price_bin), round8(event.qty), event.side});
    }
    std::stable_sort(out.events.begin(), out.events.end(), mark_before);
    return out;
}

}  // namespace ovra
