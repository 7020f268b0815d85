#include "panels/book_heatmap.h"

namespace ovra {

Result<PanelData::BookHeatmap, std::string> compute_book_heatmap(const OvraPanel::BookHeatmap& panel,
                                                                const FrameWindow& window) {
    (void)panel;
    (void)window;
    return PanelData::BookHeatmap{};
}

}  // namespace ovra
