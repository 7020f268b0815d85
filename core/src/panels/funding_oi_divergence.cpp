#include "panels/funding_oi_divergence.h"

namespace ovra {

Result<PanelData::FundingOiDivergence, std::string> compute_funding_oi_divergence(
    const OvraPanel::FundingOiDivergence& panel, const FrameWindow& window) {
    (void)panel;
    (void)window;
    return PanelData::FundingOiDivergence{};
}

}  // namespace ovra
