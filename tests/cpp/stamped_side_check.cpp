// Differential check of the stamped book side: random level changes,
// snapshots and thaws from earlier frozen states, with prices on and off
// the tick grid (signed zeros, NaN of both signs, infinities, negatives,
// far outliers that leave the paged span), each frozen side compared entry
// by entry (keys, quantity bits, stamps) and in plainness with an ordered
// map that applies the same changes; and the band search from a hint is
// compared with the binary search on each frozen side. Prints one line per
// failure and exits 1 on any.
//
//   stamped_side_check [seed] [rounds]
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "frame/heatmap/stamped_side.h"
#include "numeric.h"

namespace {

using ovra::BookLevel;
using ovra::FrozenSide;
using ovra::SideBest;
using ovra::StampedSide;

struct Entry {
    double qty;
    std::uint32_t stamp;
};
using Model = std::map<std::int64_t, Entry>;  // by stored key

double price_of(std::mt19937_64& rng, double tick) {
    const unsigned r = rng() % 40;
    if (r == 0) {
        const double odd[] = {-0.0,
                              0.0,
                              std::numeric_limits<double>::quiet_NaN(),
                              -std::numeric_limits<double>::quiet_NaN(),
                              std::numeric_limits<double>::infinity(),
                              -std::numeric_limits<double>::infinity(),
                              -5.0,
                              1e300,
                              123.456789,
                              5e-324};
        return odd[rng() % 10];
    }
    if (r == 1) return 1e7 + static_cast<double>(rng() % 50) * tick;  // on the grid, far away
    if (r == 2) return -200.0 - static_cast<double>(rng() % 50) * tick;
    return 100.0 + static_cast<double>(static_cast<int>(rng() % 3000) - 1500) * tick;
}

double qty_of(std::mt19937_64& rng) {
    const unsigned r = rng() % 10;
    if (r < 3) return r == 0 ? -0.0 : 0.0;
    if (r == 3) return std::numeric_limits<double>::quiet_NaN();
    return static_cast<double>(rng() % 1000) / 8.0 + 0.125;
}

void model_apply(Model& m, std::int64_t flip, double price, double qty, std::uint32_t writer) {
    const std::int64_t stored = ovra::total_order_key(price) ^ flip;
    if (qty == 0.0) {
        m.erase(stored);
    } else {
        m[stored] = Entry{qty, writer};
    }
}

bool model_plain(const Model& m, std::int64_t flip) {
    for (const auto& [stored, entry] : m) {
        const double price = ovra::total_order_value(stored ^ flip);
        if (!(price > 0.0 && price < std::numeric_limits<double>::infinity())) return false;
    }
    return true;
}

int failures = 0;

void compare(const char* what, std::uint64_t seed, int step, const FrozenSide& got, const Model& want,
             std::int64_t flip) {
    std::string problem;
    if (got.size() != want.size()) {
        problem = "size " + std::to_string(got.size()) + " != " + std::to_string(want.size());
    } else {
        std::size_t i = 0;
        for (const auto& [stored, entry] : want) {
            if (got.stored()[i] != stored || std::bit_cast<std::uint64_t>(got.qty()[i]) !=
                                                 std::bit_cast<std::uint64_t>(entry.qty) ||
                got.stamps()[i] != entry.stamp) {
                problem = "entry " + std::to_string(i) + " differs";
                break;
            }
            ++i;
        }
    }
    if (problem.empty() && got.plain() != model_plain(want, flip)) problem = "plain() differs";
    if (problem.empty()) return;
    ++failures;
    std::printf("FAIL %s seed %llu step %d: %s\n", what, static_cast<unsigned long long>(seed), step,
                problem.c_str());
}

// The band search from a hint against the binary search, on the frozen
// side's view: every held key and its neighbours, random prices, keys at
// both ends of the order, each from hints at both ends and in between.
void compare_searches(std::uint64_t seed, int step, const FrozenSide& got, double tick) {
    const ovra::SideView view = got.view();
    std::mt19937_64 rng(seed * 7919 + static_cast<std::uint64_t>(step + 1));
    std::vector<std::int64_t> keys = {std::numeric_limits<std::int64_t>::min(),
                                      std::numeric_limits<std::int64_t>::max()};
    for (std::size_t i = 0; i < view.size(); ++i) {
        const std::int64_t key = view.key_at(i);
        keys.push_back(key);
        if (key > std::numeric_limits<std::int64_t>::min()) keys.push_back(key - 1);
        if (key < std::numeric_limits<std::int64_t>::max()) keys.push_back(key + 1);
    }
    for (int i = 0; i < 20; ++i) keys.push_back(ovra::total_order_key(price_of(rng, tick)));
    const std::size_t n = view.size();
    for (const std::int64_t key : keys) {
        const std::size_t want = view.lower_bound(key);
        for (const std::size_t hint : {std::size_t{0}, n, n + 5, n / 2, static_cast<std::size_t>(rng() % (n + 1)),
                                       want, want + 1, want > 0 ? want - 1 : 0}) {
            const std::size_t found = view.lower_bound_near(key, hint);
            if (found == want) continue;
            ++failures;
            std::printf("FAIL search seed %llu step %d: key %lld hint %zu gives %zu, not %zu\n",
                        static_cast<unsigned long long>(seed), step, static_cast<long long>(key), hint, found,
                        want);
            return;
        }
    }
}

void run(std::uint64_t seed, double ticks_per_unit, SideBest best) {
    std::mt19937_64 rng(seed);
    const double tick = 1.0 / ticks_per_unit;
    const std::int64_t flip = best == SideBest::Highest ? 0 : -1;
    StampedSide side(best, ticks_per_unit);
    Model model;
    std::vector<std::pair<FrozenSide, Model>> kept;
    std::uint32_t writer = 0;
    for (int step = 0; step < 3000; ++step, ++writer) {
        const unsigned op = rng() % 100;
        if (op < 3) {  // a snapshot, prices listed more than once at times
            std::vector<BookLevel> levels(rng() % 60);
            for (auto& level : levels) {
                level = BookLevel{price_of(rng, tick), qty_of(rng)};
                if (rng() % 8 == 0 && &level != levels.data()) level.price = (&level - 1)->price;
            }
            side.load(levels, writer);
            model.clear();
            for (const auto& level : levels) model_apply(model, flip, level.price, level.qty, writer);
        } else if (op < 5 && !kept.empty()) {  // back to an earlier state
            const auto& [frozen, state] = kept[rng() % kept.size()];
            side.thaw(frozen);
            model = state;
        } else {
            const int n = 1 + static_cast<int>(rng() % 6);
            for (int i = 0; i < n; ++i) {
                // Removals and rewrites of held prices, not only fresh ones.
                double price = price_of(rng, tick);
                if (!model.empty() && rng() % 2 == 0) {
                    auto it = model.begin();
                    std::advance(it, static_cast<long>(rng() % model.size()));
                    price = ovra::total_order_value(it->first ^ flip);
                }
                const double qty = qty_of(rng);
                side.apply(price, qty, writer);
                model_apply(model, flip, price, qty, writer);
            }
        }
        if (side.size() != model.size()) {
            ++failures;
            std::printf("FAIL size seed %llu step %d: %zu != %zu\n", static_cast<unsigned long long>(seed), step,
                        side.size(), model.size());
            return;
        }
        if (step % 25 == 0) {
            FrozenSide frozen = side.freeze();
            compare("freeze", seed, step, frozen, model, flip);
            compare_searches(seed, step, frozen, tick);
            if (kept.size() < 16) kept.emplace_back(std::move(frozen), model);
        }
        if (failures > 20) return;
    }
    compare("final", seed, -1, side.freeze(), model, flip);
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t seed = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 20;
    const double scales[] = {100.0, 1.0, 4.0, 1e8};
    for (int r = 0; r < rounds && failures <= 20; ++r) {
        const std::uint64_t s = seed * 1000 + static_cast<std::uint64_t>(r);
        run(s, scales[r % 4], r % 2 ? SideBest::Lowest : SideBest::Highest);
    }
    std::printf("%d failures over %d rounds\n", failures, rounds);
    return failures ? 1 : 0;
}
