// Replay rate of the stamped book and warm book-heatmap frames through
// HeatmapCache, against the stateless road, on one dataset file.
//
//   cmake --build build --target bench_heatmap_cache
//   zcat recording.json.gz > /tmp/book.json     (a dataset object, as "load" takes it)
//   build/bench/bench_heatmap_cache /tmp/book.json [price_bin bucket_ms depth_levels [check_every]]
//
// Every cached frame (or every check_every-th, 0 for none: the stateless
// road takes seconds a frame on a long dense series; below 0, no stateless
// figures either) is compared with the stateless road's text; a difference makes the exit status 1. A sixth
// argument stops after the replay rates.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "dataset_reader.h"
#include "frame/heatmap/stamped_side.h"
#include "frame/heatmap_cache.h"
#include "frame_writer.h"
#include "json/json_reader.h"
#include "panels/book_heatmap.h"
#include "panels/order_book.h"
#include "stored_dataset.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

ovra::StoredDataset load(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto document = ovra::json::parse_document(text);
    if (!document) {
        std::fprintf(stderr, "%s: %s\n", path, document.error().display().c_str());
        std::exit(2);
    }
    auto dataset = ovra::dataset_from_json_value(document.value().root());
    if (!dataset) {
        std::fprintf(stderr, "%s: %s\n", path, dataset.error().c_str());
        std::exit(2);
    }
    return ovra::StoredDataset(std::move(dataset).value());
}

std::size_t level_changes(const ovra::Dataset& d) {
    std::size_t n = 0;
    for (const auto& e : d.book) n += e.bids.size() + e.asks.size();
    return n;
}

// Best of `rounds` full replays, in level changes a second.
double replay_rate(const ovra::Dataset& d, int rounds, const std::function<void()>& replay) {
    double best = 1e300;
    for (int r = 0; r < rounds; ++r) {
        const auto start = Clock::now();
        replay();
        best = std::min(best, seconds_since(start));
    }
    return static_cast<double>(level_changes(d)) / best;
}

std::string stateless(const ovra::Dataset& d, const ovra::OvraPanel::BookHeatmap& panel, std::size_t first,
                      std::size_t last) {
    ovra::FrameWindow window;
    window.book = std::span<const ovra::BookEvent>(d.book).subspan(first, last - first);
    auto computed = ovra::compute_book_heatmap(panel, window);
    if (!computed) return "error: " + computed.error();
    std::string out;
    ovra::append_panel_json(out, ovra::PanelData{std::move(computed).value()});
    return out;
}

struct Window {
    std::size_t first;
    std::size_t last;
    ovra::OvraPanel::BookHeatmap panel;
};

struct Stats {
    std::vector<double> ms;
    void print(const char* name) {
        if (ms.empty()) return;
        std::sort(ms.begin(), ms.end());
        const double median = ms[ms.size() / 2];
        const double p95 = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
        std::printf("  %-26s median %8.3f ms  p95 %8.3f ms  max %8.3f ms  (%zu frames)\n", name, median, p95,
                    ms.back(), ms.size());
    }
};

int failures = 0;
int check_every = 1;
int cold_rounds = 3;

// Runs the windows through one cache, timing each, and checks every text
// against the stateless road.
void run_mode(const char* name, ovra::HeatmapCache& cache, const ovra::Dataset& d, const std::vector<Window>& ws) {
    Stats stats;
    int count = 0;
    for (const Window& w : ws) {
        std::string out;
        const auto start = Clock::now();
        auto r = cache.append_panel(w.panel, w.first, w.last, out);
        stats.ms.push_back(seconds_since(start) * 1e3);
        if (!r) out = "error: " + r.error();
        if (check_every <= 0 || count++ % check_every != 0) continue;
        if (out != stateless(d, w.panel, w.first, w.last)) {
            std::fprintf(stderr, "%s: cached text differs at window [%zu, %zu)\n", name, w.first, w.last);
            ++failures;
        }
    }
    stats.print(name);
}

std::size_t first_at_or_after(const ovra::Dataset& d, std::int64_t ts) {
    return static_cast<std::size_t>(
        std::partition_point(d.book.begin(), d.book.end(), [ts](const ovra::BookEvent& e) { return e.ts < ts; }) -
        d.book.begin());
}

std::size_t first_after(const ovra::Dataset& d, std::int64_t ts) {
    return static_cast<std::size_t>(
        std::partition_point(d.book.begin(), d.book.end(), [ts](const ovra::BookEvent& e) { return e.ts <= ts; }) -
        d.book.begin());
}

// Forward and shuffled cursors over a window from the first event, each
// order on a fresh cache with a handle's limit, as a viewer's first scrub.
int scrub_modes(const ovra::Dataset& d, const ovra::OvraPanel::BookHeatmap& panel) {
    const std::int64_t t0 = d.book.front().ts;
    const std::int64_t t1 = d.book.back().ts;
    std::vector<Window> forward;
    for (int i = 1; i <= 120; ++i) forward.push_back({0, first_after(d, t0 + (t1 - t0) * i / 120), panel});
    std::vector<Window> jumping = forward;
    std::shuffle(jumping.begin(), jumping.end(), std::mt19937(11));
    const std::size_t limit = std::max<std::size_t>(std::size_t{256} << 20, d.memory_bytes()) / 4 * 3;
    // OVRA_BENCH_ROUNDS: how many times each order runs (1 unless set).
    const char* rounds_env = std::getenv("OVRA_BENCH_ROUNDS");
    const int rounds = rounds_env ? std::max(1, std::atoi(rounds_env)) : 1;
    for (int r = 0; r < rounds; ++r) {
        for (const auto& [name, windows] : {std::pair{"forward, fresh cache", &forward},
                                            std::pair{"jumping, fresh cache", &jumping}}) {
            ovra::HeatmapCache cache(d);
            cache.set_memory_limit(limit);
            run_mode(name, cache, d, *windows);
        }
    }
    return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s dataset.json [price_bin bucket_ms depth_levels]\n", argv[0]);
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const ovra::StoredDataset stored = load(argv[1]);
    const ovra::Dataset& d = stored.records();
    ovra::OvraPanel::BookHeatmap panel;
    panel.price_bin = argc > 2 ? std::atof(argv[2]) : 0.5;
    panel.bucket_ms = argc > 3 ? std::atoll(argv[3]) : 1000;
    panel.depth_levels = argc > 4 ? static_cast<std::uint32_t>(std::atoi(argv[4])) : 100;
    if (d.book.empty()) return 2;
    // OVRA_BENCH_SCRUB_ONLY=1: only the scrubbing modes, each on a fresh
    // cache (for profiling them).
    const char* scrub_only_env = std::getenv("OVRA_BENCH_SCRUB_ONLY");
    const bool scrub_only = scrub_only_env && std::string(scrub_only_env) == "1";
    std::printf("%zu book events, %zu level changes; price_bin %g, bucket_ms %lld, depth_levels %u\n",
                d.book.size(), level_changes(d), panel.price_bin, static_cast<long long>(panel.bucket_ms),
                panel.depth_levels);

    check_every = argc > 5 ? std::atoi(argv[5]) : 1;
    if (scrub_only) return scrub_modes(d, panel);
    const double stamped = replay_rate(d, 5, [&] {
        ovra::StampedBook book;
        for (std::size_t i = 0; i < d.book.size(); ++i) book.apply(d.book[i], static_cast<std::uint32_t>(i));
    });
    const double blocked = replay_rate(d, 5, [&] {
        ovra::OrderBook book;
        for (const auto& e : d.book) book.replay(std::span(&e, 1));
    });
    std::printf("replay: stamped book %.1f M level changes/s, block sides %.1f M level changes/s\n",
                stamped / 1e6, blocked / 1e6);
    {
        ovra::StampedBook book;
        for (std::size_t i = 0; i < d.book.size(); ++i) book.apply(d.book[i], static_cast<std::uint32_t>(i));
        const ovra::FrozenBook copy = ovra::freeze(book);
        std::printf("state at the end: %zu bids + %zu asks, %zu bytes\n", copy.bids.size(), copy.asks.size(),
                    copy.memory_bytes());
    }
    if (const char* rounds = std::getenv("OVRA_BENCH_COLD_ROUNDS")) cold_rounds = std::atoi(rounds);
    if (argc > 6) return 0;

    const std::int64_t t0 = d.book.front().ts;
    const std::int64_t t1 = d.book.back().ts;
    std::vector<std::int64_t> cursors;
    for (int i = 1; i <= 120; ++i) cursors.push_back(t0 + (t1 - t0) * i / 120);
    const std::size_t n = d.book.size();
    {
        Stats cold;
        for (int r = 0; r < cold_rounds; ++r) {
            ovra::HeatmapCache fresh(d);
            fresh.set_memory_limit(std::max<std::size_t>(std::size_t{256} << 20, d.memory_bytes()) / 4 * 3);
            std::string out;
            const auto start = Clock::now();
            (void)fresh.append_panel(panel, 0, n, out);
            cold.ms.push_back(seconds_since(start) * 1e3);
        }
        cold.print("cold, whole recording");
        // One replay of the book: a single bucket and level.
        ovra::OvraPanel::BookHeatmap one_cell = panel;
        one_cell.price_bin = 1.0;
        one_cell.bucket_ms = 1'000'000'000'000'000;
        one_cell.depth_levels = 1;
        Stats once;
        for (int r = 0; r < std::min(cold_rounds, 3); ++r) {
            ovra::HeatmapCache fresh(d);
            std::string out;
            const auto start = Clock::now();
            (void)fresh.append_panel(one_cell, 0, n, out);
            once.ms.push_back(seconds_since(start) * 1e3);
        }
        once.print("cold, one cell (a replay)");
        Stats road;
        for (int r = 0; r < (check_every < 0 ? 0 : 3); ++r) {
            const auto start = Clock::now();
            (void)stateless(d, panel, 0, n);
            road.ms.push_back(seconds_since(start) * 1e3);
        }
        if (!road.ms.empty()) road.print("stateless, whole recording");
    }
    // A handle gives its heatmap three quarters of the larger of 256 MiB and
    // its dataset's size.
    const std::size_t limit = std::max<std::size_t>(std::size_t{256} << 20, d.memory_bytes()) / 4 * 3;
    std::printf("cache limit %zu bytes, as a handle of this dataset sets it\n", limit);
    ovra::HeatmapCache cache(d);
    cache.set_memory_limit(limit);
    std::vector<Window> forward;
    for (const std::int64_t c : cursors) forward.push_back({0, first_after(d, c), panel});
    run_mode("forward", cache, d, forward);
    std::vector<Window> jumping = forward;
    std::shuffle(jumping.begin(), jumping.end(), std::mt19937(7));
    run_mode("jumping", cache, d, jumping);
    std::vector<Window> sliding;
    const std::int64_t width = (t1 - t0) / 4;
    for (const std::int64_t c : cursors) sliding.push_back({first_at_or_after(d, c - width), first_after(d, c), panel});
    run_mode("sliding (quarter window)", cache, d, sliding);
    std::vector<Window> zoom;
    ovra::OvraPanel::BookHeatmap other = panel;
    other.price_bin = panel.price_bin * 2;
    other.depth_levels = panel.depth_levels / 2 + 1;
    for (int i = 0; i < 20; ++i) zoom.push_back({0, n, i % 2 ? other : panel});
    run_mode("zoom price_bin/depth", cache, d, zoom);
    std::vector<Window> widths;
    ovra::OvraPanel::BookHeatmap wide = panel;
    wide.bucket_ms = panel.bucket_ms * 3;
    for (int i = 0; i < 20; ++i) widths.push_back({0, n, i % 2 ? wide : panel});
    run_mode("zoom bucket_ms", cache, d, widths);
    std::printf("cache holds %zu bytes in %zu books\n", cache.memory_bytes(), cache.state_count());
    if (const char* tight_run = std::getenv("OVRA_BENCH_TIGHT"); tight_run && std::string(tight_run) == "0") {
        return failures ? 1 : 0;
    }
    ovra::HeatmapCache tight(d);
    tight.set_memory_limit(2'000'000);
    run_mode("forward, 2 MB limit", tight, d, forward);
    std::printf("tight cache holds %zu bytes in %zu books\n", tight.memory_bytes(), tight.state_count());
    return failures ? 1 : 0;
}
