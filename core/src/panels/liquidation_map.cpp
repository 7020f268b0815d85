#include "panels/liquidation_map.h"

namespace ovra {

PanelData::LiquidationMap compute_liquidation_map(const OvraPanel::LiquidationMap& panel,
                                                  const FrameWindow& window) {
    (void)panel;
    (void)window;
    return {};
}

}  // namespace ovra
