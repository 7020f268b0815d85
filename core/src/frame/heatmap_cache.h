// What a handle keeps between frames to answer its book heatmaps: books of
// one replay of the whole stored series at bucket ends (each entry stamped
// with the event that last wrote it, so that one set of books serves every
// window start), and the written text of rows already summed against a
// ladder. A window is a range of the stored, ts-ordered book events; the
// answer is the panel's JSON text, byte for byte what the frame writer
// makes of compute_book_heatmap for that window.
#pragma once

#include <cstddef>
#include <memory>
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
    explicit HeatmapCache(const Dataset& dataset) noexcept;
    ~HeatmapCache();
    HeatmapCache(HeatmapCache&&) noexcept;
    HeatmapCache& operator=(HeatmapCache&&) noexcept;

    // The grid the panel would allocate for the book events [first, last),
    // as plan_book_heatmap_grid gives it for that window.
    GridPlan plan(const OvraPanel::BookHeatmap& panel, std::size_t first, std::size_t last);

    // Whether the final book of the window [first, last) lacks a side.
    bool final_book_one_sided(std::size_t first, std::size_t last);

    // Appends the panel object ({"kind":"book_heatmap",...}) for the window
    // [first, last) to `out`, or gives the panel's grid error (no "data: "
    // prefix), leaving `out` as it was. Calls may come from several threads
    // at once; they take turns.
    Result<Ok, std::string> append_panel(const OvraPanel::BookHeatmap& panel, std::size_t first, std::size_t last,
                                         std::string& out);

    // Bytes held between calls, and the most it may hold; lowering the
    // limit gives memory back at once. Within a call the working book may
    // go beyond a limit smaller than one book.
    std::size_t memory_bytes() const noexcept;
    void set_memory_limit(std::size_t bytes) noexcept;

    // Books kept, for tests and benchmarks.
    std::size_t state_count() const noexcept;

    // The limit until one is set.
    static constexpr std::size_t kDefaultMemoryLimit = std::size_t{256} << 20;

private:
    struct Impl;
    const Dataset* dataset_;
    std::unique_ptr<Impl> impl_;  // absent when it could not be made: every call then replays afresh
};

}  // namespace ovra
