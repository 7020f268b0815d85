// Differential check of HeatmapCache: random datasets, one cache driven
// through random sequences of windows and panel settings under several
// memory limits, every answer compared byte for byte with the stateless
// road (compute_book_heatmap and the frame writer); then two threads on one
// cache at once. Prints one line per failure and exits 1 on any.
//
//   heatmap_cache_check [seed] [datasets]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "frame/heatmap_cache.h"
#include "frame_writer.h"
#include "panels/book_heatmap.h"
#include "stored_dataset.h"

namespace {

using ovra::BookEvent;
using ovra::BookLevel;
using ovra::OvraPanel;

struct Shape {
    int events;
    int levels;       // per side of a snapshot
    int diff_levels;  // at most, per side of a diff
    double tick;
    bool odd_prices;  // -0.0, 0.0, NaN, infinities, negatives now and then
    int drift = 0;    // at most this many ticks the prices move per event (a wandering mid)
};

// Where the prices of the dataset being made are centred.
double centre = 100.0;

double price_of(std::mt19937_64& rng, const Shape& shape) {
    if (shape.odd_prices && rng() % 23 == 0) {
        const double odd[] = {-0.0, 0.0, std::numeric_limits<double>::quiet_NaN(),
                              std::numeric_limits<double>::infinity(), -5.0, 1e300};
        return odd[rng() % 6];
    }
    return centre + static_cast<double>(static_cast<int>(rng() % 400) - 200) * shape.tick;
}

double qty_of(std::mt19937_64& rng) {
    const unsigned r = rng() % 10;
    if (r < 3) return r == 0 ? -0.0 : 0.0;
    if (r == 3) return -1.25;
    return static_cast<double>(rng() % 1000) / 8.0 + 0.1;
}

ovra::StoredDataset make_dataset(std::mt19937_64& rng, const Shape& shape) {
    ovra::Dataset d;
    std::vector<std::size_t> bid_at, bid_n, ask_at, ask_n;
    std::int64_t ts = static_cast<std::int64_t>(rng() % 100000) - 50000;
    centre = 100.0;
    for (int e = 0; e < shape.events; ++e) {
        if (shape.drift) {
            const int move = static_cast<int>(rng() % (2 * shape.drift + 1)) - shape.drift;
            centre = std::round((centre + move * shape.tick) / shape.tick) * shape.tick;
        }
        const bool snapshot = e == 0 ? rng() % 4 != 0 : rng() % 40 == 0;
        const int width = snapshot ? shape.levels : static_cast<int>(rng() % (shape.diff_levels + 1));
        BookEvent event{};
        event.ts = ts + static_cast<std::int64_t>(rng() % 3 == 0 ? 0 : rng() % 9000);
        if (rng() % 50 == 0) event.ts -= 20000;  // stored out of order: sorting moves it
        ts = std::max(ts, event.ts);
        event.kind = snapshot ? ovra::BookEventKind::Snapshot : ovra::BookEventKind::Diff;
        d.book.push_back(event);
        bid_at.push_back(d.levels.size());
        const int bids = snapshot && rng() % 8 == 0 ? 0 : width;
        for (int i = 0; i < bids; ++i) d.levels.push_back(BookLevel{price_of(rng, shape) - 1.0, qty_of(rng)});
        bid_n.push_back(d.levels.size() - bid_at.back());
        ask_at.push_back(d.levels.size());
        for (int i = 0; i < width; ++i) d.levels.push_back(BookLevel{price_of(rng, shape) + 1.0, qty_of(rng)});
        ask_n.push_back(d.levels.size() - ask_at.back());
    }
    for (std::size_t e = 0; e < d.book.size(); ++e) {
        d.book[e].bids = std::span<const BookLevel>(d.levels).subspan(bid_at[e], bid_n[e]);
        d.book[e].asks = std::span<const BookLevel>(d.levels).subspan(ask_at[e], ask_n[e]);
    }
    return ovra::StoredDataset(std::move(d));
}

std::string stateless(const ovra::Dataset& d, const OvraPanel::BookHeatmap& panel, std::size_t first,
                      std::size_t last) {
    ovra::FrameWindow window;
    window.book = std::span<const BookEvent>(d.book).subspan(first, last - first);
    auto computed = ovra::compute_book_heatmap(panel, window);
    if (!computed) return "error " + computed.error();
    std::string out;
    ovra::append_panel_json(out, ovra::PanelData{std::move(computed).value()});
    return out;
}

std::string cached(ovra::HeatmapCache& cache, const OvraPanel::BookHeatmap& panel, std::size_t first,
                   std::size_t last) {
    std::string out = "prefix";
    auto r = cache.append_panel(panel, first, last, out);
    if (!r) return out == "prefix" ? "error " + r.error() : "error left text behind";
    return out.substr(6);
}

struct Step {
    OvraPanel::BookHeatmap panel;
    std::size_t first;
    std::size_t last;
};

// A viewer's moves: the cursor forward, jumps, a sliding start, zooms and a
// new bucket width, each from the step before.
std::vector<Step> make_steps(std::mt19937_64& rng, std::size_t events, int count) {
    const double bins[] = {0.5, 1.0, 0.25, 3.0, 0.1};
    const std::int64_t buckets[] = {1000, 5000, 30000, 7, 60000};
    const std::uint32_t depths[] = {1, 3, 10, 40, 7};
    std::vector<Step> steps;
    Step s{};
    s.panel.price_bin = 0.5;
    s.panel.bucket_ms = 5000;
    s.panel.depth_levels = 10;
    s.first = 0;
    s.last = events;
    for (int i = 0; i < count; ++i) {
        switch (rng() % 7) {
            case 0: s.last = std::min(events, s.last + rng() % 20); break;
            case 1: s.last = rng() % (events + 1); break;
            case 2: s.first = rng() % (events + 1); break;
            case 3: s.panel.price_bin = bins[rng() % 5]; break;
            case 4: s.panel.depth_levels = depths[rng() % 5]; break;
            case 5: s.panel.bucket_ms = buckets[rng() % 5]; break;
            default: {
                const std::size_t width = s.last - std::min(s.last, s.first);
                s.last = std::min(events, s.last + rng() % 10);
                s.first = s.last - std::min(s.last, width);
            }
        }
        Step step = s;
        if (step.first > step.last) std::swap(step.first, step.last);
        steps.push_back(step);
    }
    return steps;
}

// A viewer's session: the cursor dragged forward over a fixed start, the
// same cursors jumped to, a window of fixed width sliding, then zooms
// between two price bins and two depths at the end.
std::vector<Step> viewer_steps(std::mt19937_64& rng, std::size_t events) {
    std::vector<Step> steps;
    Step s{};
    s.panel.price_bin = rng() % 2 ? 0.5 : 0.1;
    s.panel.bucket_ms = 5000;
    s.panel.depth_levels = 12;
    const std::size_t stride = std::max<std::size_t>(1, events / 24);
    for (std::size_t last = 1; last <= events; last += stride) steps.push_back({s.panel, 0, last});
    const std::size_t forward = steps.size();
    for (std::size_t i = 0; i < forward; ++i) steps.push_back(steps[rng() % forward]);
    const std::size_t width = events / 3;
    for (std::size_t last = width; last <= events; last += stride / 2 + 1) {
        steps.push_back({s.panel, last - width, last});
    }
    for (int i = 0; i < 8; ++i) {
        Step z{s.panel, 0, events};
        z.panel.price_bin = i % 2 ? s.panel.price_bin * 2 : s.panel.price_bin;
        z.panel.depth_levels = i % 4 < 2 ? 12 : 31;
        steps.push_back(z);
    }
    return steps;
}

int failures = 0;

void check(const char* what, std::uint64_t seed, const std::string& got, const std::string& want, const Step& s) {
    if (got == want) return;
    ++failures;
    std::printf("FAIL %s seed %llu window [%zu, %zu) price_bin %g bucket_ms %lld depth %u\n  got  %.300s\n  want %.300s\n",
                what, static_cast<unsigned long long>(seed), s.first, s.last, s.panel.price_bin,
                static_cast<long long>(s.panel.bucket_ms), s.panel.depth_levels, got.c_str(), want.c_str());
}

void run_dataset(std::uint64_t seed, const Shape& shape) {
    std::mt19937_64 rng(seed);
    const ovra::StoredDataset stored = make_dataset(rng, shape);
    const ovra::Dataset& d = stored.records();
    std::vector<Step> steps = make_steps(rng, d.book.size(), 60);
    if (shape.drift) {
        const std::vector<Step> viewer = viewer_steps(rng, d.book.size());
        steps.insert(steps.begin(), viewer.begin(), viewer.end());
    }
    std::vector<std::string> want;
    for (const Step& s : steps) want.push_back(stateless(d, s.panel, s.first, s.last));

    // The limits: none set, nothing at all, less than one book, a few books.
    const std::size_t limits[] = {ovra::HeatmapCache::kDefaultMemoryLimit, 0, 700, 20'000, 120'000};
    for (const std::size_t limit : limits) {
        ovra::HeatmapCache cache(d);
        cache.set_memory_limit(limit);
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const Step& s = steps[i];
            check("append_panel", seed, cached(cache, s.panel, s.first, s.last), want[i], s);
            const bool one_sided = cache.final_book_one_sided(s.first, s.last);
            ovra::FrameWindow window;
            window.book = std::span<const BookEvent>(d.book).subspan(s.first, s.last - s.first);
            if (one_sided != ovra::final_book_one_sided(window)) check("one_sided", seed, "differs", "", s);
            if (cache.memory_bytes() > limit) {
                check("memory", seed, std::to_string(cache.memory_bytes()), "<= " + std::to_string(limit), s);
            }
            if (i == steps.size() / 2) cache.set_memory_limit(limit / 3);  // lowered while warm
        }
    }

    // Two panels of one frame may ask one cache at the same time.
    ovra::HeatmapCache shared(d);
    shared.set_memory_limit(60'000);
    std::vector<std::string> got_a(steps.size()), got_b(steps.size());
    std::thread a([&] {
        for (std::size_t i = 0; i < steps.size(); ++i) got_a[i] = cached(shared, steps[i].panel, steps[i].first, steps[i].last);
    });
    std::thread b([&] {
        for (std::size_t i = steps.size(); i-- > 0;) got_b[i] = cached(shared, steps[i].panel, steps[i].first, steps[i].last);
    });
    a.join();
    b.join();
    for (std::size_t i = 0; i < steps.size(); ++i) {
        check("thread a", seed, got_a[i], want[i], steps[i]);
        check("thread b", seed, got_b[i], want[i], steps[i]);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t seed = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1;
    const int datasets = argc > 2 ? std::atoi(argv[2]) : 40;
    const Shape shapes[] = {
        {60, 6, 3, 0.5, true},     // small and odd: signed zeros, NaN, infinities
        {200, 40, 6, 0.25, false}, // a moderate book
        {400, 150, 12, 0.01, false},
        {30, 3, 2, 1.0, true},
        {900, 120, 8, 0.01, false, 3},  // a mid that wanders: ladders move by whole bands
    };
    for (int i = 0; i < datasets; ++i) {
        run_dataset(seed * 1000 + static_cast<std::uint64_t>(i), shapes[i % 5]);
        if (failures > 20) break;
    }
    std::printf("%d failures over %d datasets\n", failures, datasets);
    return failures ? 1 : 0;
}
