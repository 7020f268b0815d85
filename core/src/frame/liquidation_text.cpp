// Liquidation marks written once per price_bin, sliced per window.
#include "frame/liquidation_text.h"

#include "frame_writer.h"
#include "panels/liquidation_map.h"

namespace ovra {

LiquidationText::LiquidationText(std::span<const LiquidationEvent> liquidations, double price_bin) {
    FrameWindow all;
    all.liquidations = liquidations;
    const PanelData::LiquidationMap map = compute_liquidation_map(OvraPanel::LiquidationMap{price_bin}, all);
    begins_.reserve(map.events.size() + 1);
    for (const LiquidationMapEvent& event : map.events) {
        begins_.push_back(marks_.size());
        append_liquidation_event_json(marks_, event);
        marks_.push_back(',');
    }
    begins_.push_back(marks_.size());
    marks_.shrink_to_fit();
}

void LiquidationText::append_panel(std::size_t first, std::size_t last, std::string& out) const {
    out += "{\"kind\":\"liquidation_map\",\"events\":[";
    // Without the ',' after the window's last mark.
    if (first < last) out.append(marks_, begins_[first], begins_[last] - 1 - begins_[first]);
    out += "]}";
}

std::size_t LiquidationText::memory_bytes() const noexcept {
    return marks_.capacity() + begins_.capacity() * sizeof(std::size_t);
}

}  // namespace ovra
