// cached_frame_text: validation, window, budget, then each panel's text from
// its cache entry on the worker pool, joined in spec order.
#include "frame/cached_frame.h"

#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

#include "frame/frame_budget.h"
#include "frame/frame_window.h"
#include "frame_writer.h"
#include "json/json_writer.h"
#include "panels/funding_oi_divergence.h"
#include "spec_validation.h"
#include "worker_pool.h"

namespace ovra {

namespace {

struct Range {
    std::size_t first = 0;
    std::size_t last = 0;
};

template <class Record>
Range range_of(std::span<const Record> window, const Series<Record>& stored) noexcept {
    const std::size_t first = window.empty() ? 0 : static_cast<std::size_t>(window.data() - stored.data());
    return Range{first, first + window.size()};
}

// Where the window lies in each stored series (the window of a sorted
// dataset is one run of each).
struct WindowRanges {
    Range candles, trades, book, funding, oi, liquidations;
};

WindowRanges ranges_of(const FrameWindow& window, const Dataset& data) noexcept {
    return {range_of(window.candles, data.candles), range_of(window.trades, data.trades),
            range_of(window.book, data.book),       range_of(window.funding, data.funding),
            range_of(window.oi, data.oi),           range_of(window.liquidations, data.liquidations)};
}

class CachedBookPlanner final : public BookHeatmapPlanner {
public:
    CachedBookPlanner(HeatmapCache& cache, Range book) noexcept : cache_(cache), book_(book) {}

    GridPlan plan(const OvraPanel::BookHeatmap& panel) override { return cache_.plan(panel, book_.first, book_.last); }
    bool final_book_one_sided() override { return cache_.final_book_one_sided(book_.first, book_.last); }
    std::optional<std::string> refusal(const OvraPanel::BookHeatmap& panel) override {
        std::string scratch;
        auto r = cache_.append_panel(panel, book_.first, book_.last, scratch);
        return r ? std::nullopt : std::optional<std::string>(std::move(r).error());
    }

private:
    HeatmapCache& cache_;
    Range book_;
};

// One panel of the frame with the cache entry that answers it, found on the
// calling thread before the panels run.
struct PanelJob {
    const OvraPanel* panel;
    void* entry;  // FootprintCache, LiquidationEntry or FundingMemo; unused for heatmaps
};

struct FrameContext {
    FrameCache& cache;
    const FrameWindow& window;
    const WindowRanges& ranges;
};

using PanelText = Result<std::string>;

PanelText data_error(std::string message) { return fail(OvraError{ErrorKind::Data, std::move(message)}); }

PanelText footprint_text(FootprintCache& cache, Range trades) {
    std::string out;
    std::lock_guard lock(cache.mutex());
    cache.append_panel(trades.first, trades.last, out);
    return out;
}

PanelText liquidation_text(LiquidationEntry& entry, const Dataset& data, double price_bin, Range liquidations) {
    std::string out;
    std::lock_guard lock(entry.mutex);
    if (!entry.text) entry.text.emplace(data.liquidations, price_bin);
    entry.text->append_panel(liquidations.first, liquidations.last, out);
    return out;
}

PanelText funding_text(FundingMemo& memo, const OvraPanel::FundingOiDivergence& panel, const FrameContext& frame) {
    const FundingMemo::Window window{frame.ranges.candles.first, frame.ranges.candles.last,
                                     frame.ranges.funding.first, frame.ranges.funding.last,
                                     frame.ranges.oi.first,      frame.ranges.oi.last};
    std::lock_guard lock(memo.mutex);
    if (memo.window != window) {
        auto computed = compute_funding_oi_divergence(panel, frame.window);
        if (!computed) return data_error(std::move(computed).error());
        memo.window.reset();
        memo.text.clear();
        append_panel_json(memo.text, PanelData{std::move(computed).value()});
        memo.window = window;
    }
    return memo.text;
}

PanelText heatmap_text(HeatmapCache& cache, const OvraPanel::BookHeatmap& panel, Range book) {
    std::string out;
    auto appended = cache.append_panel(panel, book.first, book.last, out);
    if (!appended) return data_error(std::move(appended).error());
    return out;
}

PanelText panel_text(const PanelJob& job, const FrameContext& frame) {
    struct Compute {
        const PanelJob& job;
        const FrameContext& frame;
        PanelText operator()(const OvraPanel::Footprint&) const {
            return footprint_text(*static_cast<FootprintCache*>(job.entry), frame.ranges.trades);
        }
        PanelText operator()(const OvraPanel::BookHeatmap& p) const {
            return heatmap_text(frame.cache.heatmap(), p, frame.ranges.book);
        }
        PanelText operator()(const OvraPanel::LiquidationMap& p) const {
            return liquidation_text(*static_cast<LiquidationEntry*>(job.entry), frame.cache.dataset(), p.price_bin,
                                    frame.ranges.liquidations);
        }
        PanelText operator()(const OvraPanel::FundingOiDivergence& p) const {
            return funding_text(*static_cast<FundingMemo*>(job.entry), p, frame);
        }
    };
    try {
        return std::visit(Compute{job, frame}, job.panel->config);
    } catch (const std::length_error&) {
        // A container asked for more than it can ever hold: exhausted memory.
        throw std::bad_alloc();
    }
}

std::vector<PanelJob> panel_jobs(FrameCache& cache, std::span<const OvraPanel> panels) {
    struct Find {
        FrameCache& cache;
        void* operator()(const OvraPanel::Footprint& p) const { return &cache.footprint(p.price_bin); }
        void* operator()(const OvraPanel::BookHeatmap&) const { return nullptr; }
        void* operator()(const OvraPanel::LiquidationMap& p) const { return &cache.liquidation(p.price_bin); }
        void* operator()(const OvraPanel::FundingOiDivergence& p) const { return &cache.funding(p.bucket_ms); }
    };
    std::vector<PanelJob> jobs;
    jobs.reserve(panels.size());
    for (const OvraPanel& panel : panels) jobs.push_back(PanelJob{&panel, std::visit(Find{cache}, panel.config)});
    return jobs;
}

// One slot per panel, filled by whichever thread computes that panel.
using Slots = std::vector<std::optional<PanelText>>;

// Panels [begin, end): one on this thread, more split in two halves (the
// first holding the floor of half) offered to the pool.
void evaluate(WorkerPool& pool, std::span<const PanelJob> jobs, const FrameContext& frame, Slots& slots,
              std::size_t begin, std::size_t end) {
    if (end - begin == 1) {
        slots[begin].emplace(panel_text(jobs[begin], frame));
        return;
    }
    const std::size_t middle = begin + (end - begin) / 2;
    pool.join([&] { evaluate(pool, jobs, frame, slots, begin, middle); },
              [&] { evaluate(pool, jobs, frame, slots, middle, end); });
}

// The frame object around the panel texts, or the first failure in spec order.
Result<std::string> join_frame(const OvraSpec& spec, std::int64_t cursor_ts, Slots& slots) {
    std::size_t size = spec.symbol.size() + 64;
    for (auto& slot : slots) {
        if (!*slot) return fail(std::move(*slot).error());
        size += slot->value().size() + 1;
    }
    json::JsonWriter w;
    w.text().reserve(size);
    w.raw("{\"symbol\":");
    w.string(spec.symbol);
    w.raw(",\"cursor_ts\":");
    w.i64(cursor_ts);
    w.raw(",\"panels\":[");
    for (std::size_t i = 0; i < slots.size(); ++i) {
        if (i) w.raw(',');
        w.raw(slots[i]->value());
    }
    w.raw("]}");
    return w.take();
}

}  // namespace

Result<std::string> cached_frame_text(FrameCache& cache, const OvraSpec& spec, std::int64_t cursor) {
    if (auto valid = validate_spec(spec); !valid) return fail(std::move(valid).error());
    const std::int64_t upper = (spec.to_ts && *spec.to_ts < cursor) ? *spec.to_ts : cursor;
    const SelectedWindow selected = select_window(cache.dataset(), spec.from_ts, upper, SeriesOrder::Sorted);
    const FrameWindow& window = selected.view();
    const WindowRanges ranges = ranges_of(window, cache.dataset());
    CachedBookPlanner book(cache.heatmap(), ranges.book);
    if (auto budget = check_frame_budget(spec.panels, window, book); !budget) return fail(std::move(budget).error());

    cache.begin_frame();
    const std::vector<PanelJob> jobs = panel_jobs(cache, spec.panels);
    const FrameContext frame{cache, window, ranges};
    Slots slots(jobs.size());
    if (jobs.size() == 1) {
        slots[0].emplace(panel_text(jobs[0], frame));
    } else if (!jobs.empty()) {
        evaluate(WorkerPool::instance(), jobs, frame, slots, 0, jobs.size());
    }
    auto text = join_frame(spec, upper, slots);
    cache.end_frame();
    return text;
}

}  // namespace ovra
