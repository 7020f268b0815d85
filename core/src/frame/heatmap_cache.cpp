// The stateless heatmap road behind HeatmapCache: every call replays its
// window.
#include "frame/heatmap_cache.h"

#include <span>

#include "frame/frame_window.h"
#include "frame_writer.h"
#include "panels/book_heatmap.h"

namespace ovra {

namespace {

FrameWindow book_window(const Dataset& dataset, std::size_t first, std::size_t last) {
    FrameWindow window;
    window.book = std::span<const BookEvent>(dataset.book).subspan(first, last - first);
    return window;
}

}  // namespace

GridPlan HeatmapCache::plan(const OvraPanel::BookHeatmap& panel, std::size_t first, std::size_t last) {
    return plan_book_heatmap_grid(panel, book_window(*dataset_, first, last));
}

bool HeatmapCache::final_book_one_sided(std::size_t first, std::size_t last) {
    return ovra::final_book_one_sided(book_window(*dataset_, first, last));
}

Result<Ok, std::string> HeatmapCache::append_panel(const OvraPanel::BookHeatmap& panel, std::size_t first,
                                                   std::size_t last, std::string& out) {
    auto computed = compute_book_heatmap(panel, book_window(*dataset_, first, last));
    if (!computed) return fail(std::move(computed).error());
    append_panel_json(out, PanelData{std::move(computed).value()});
    return Ok{};
}

}  // namespace ovra
