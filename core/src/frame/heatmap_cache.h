// What a handle keeps between frames to answer its book heatmaps: for now
// nothing, each panel is computed afresh from its window of book events.
// The interface is the one the frame engine relies on: a window is a range
// of the stored, ts-ordered book events, and the answer is the panel's JSON
// text, byte for byte what the frame writer makes of compute_book_heatmap.
#pragma once

#include <cstddef>
#include <string>

#include "dataset.h"
#include "panels/time_grid.h"
#include "result.h"
#include "spec.h"

namespace ovra {

class HeatmapCache {
public:
    // `dataset` is sorted by ts, outlives the cache and never changes while
    // the cache exists (a handle drops its cache with its dataset).
    explicit HeatmapCache(const Dataset& dataset) noexcept : dataset_(&dataset) {}

    // The grid the panel would allocate for the book events [first, last),
    // as plan_book_heatmap_grid gives it for that window.
    GridPlan plan(const OvraPanel::BookHeatmap& panel, std::size_t first, std::size_t last);

    // Whether the final book of the window [first, last) lacks a side.
    bool final_book_one_sided(std::size_t first, std::size_t last);

    // Appends the panel object ({"kind":"book_heatmap",...}) for the window
    // [first, last) to `out`, or gives the panel's grid error (no "data: "
    // prefix), leaving `out` as it was.
    Result<Ok, std::string> append_panel(const OvraPanel::BookHeatmap& panel, std::size_t first, std::size_t last,
                                         std::string& out);

    // Bytes held between calls, and the most it may hold; lowering the
    // limit gives memory back at once.
    std::size_t memory_bytes() const noexcept { return 0; }
    void set_memory_limit(std::size_t bytes) noexcept { memory_limit_ = bytes; }

private:
    const Dataset* dataset_;
    std::size_t memory_limit_ = 0;
};

}  // namespace ovra
