#include "panels/footprint.h"

namespace ovra {

PanelData::Footprint compute_footprint(const OvraPanel::Footprint& panel, const FrameWindow& window) {
    (void)panel;
    (void)window;
    return {};
}

}  // namespace ovra
