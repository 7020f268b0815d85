// Many threads, one handle state each, all computing frames on the shared
// worker pool at the same time (what the interpreter lock never lets Python
// do). Every response must equal the single-threaded one. Built with
// ThreadSanitizer by scripts/thread-stress; exits 1 on the first difference.
//
//   thread_stress [threads] [rounds]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "command_dispatcher.h"

namespace {

// A small deterministic generator: the data need only be varied, not random.
struct Lcg {
    std::uint64_t state;
    std::uint64_t next() {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return state >> 33;
    }
    long below(long n) { return static_cast<long>(next() % static_cast<std::uint64_t>(n)); }
};

std::string price(Lcg& rng) { return std::to_string(95 + rng.below(10)) + "." + std::to_string(rng.below(100)); }

std::string load_command(std::uint64_t seed, int records) {
    Lcg rng{seed};
    // Five minutes of records, however many.
    const auto ts = [&] { return std::to_string(1'000'000 + rng.below(300'000L)); };
    std::string trades, book, candles, funding, oi, liquidations;
    for (int i = 0; i < records; ++i) {
        const std::string sep = i ? "," : "";
        trades += sep + "[" + ts() + "," + price(rng) + "," + std::to_string(rng.below(50)) + ".5,\"" +
                  (rng.below(2) ? "buy" : "sell") + "\"]";
        if (i % 4 == 0) {
            const std::string s2 = i ? "," : "";
            book += s2 + "[" + ts() + ",\"" + (i % 20 ? "diff" : "snapshot") + "\",[[" + price(rng) + "," +
                    std::to_string(rng.below(9)) + "]],[[" + std::to_string(105 + rng.below(5)) + ".0,1.5]]]";
            candles += s2 + "[" + ts() + ",1.0,2.0,0.5," + price(rng) + ",10.0]";
            funding += s2 + "[" + ts() + ",0.000" + std::to_string(rng.below(999)) + "]";
            oi += s2 + "[" + ts() + "," + std::to_string(1000 + rng.below(500)) + ".25]";
            liquidations += s2 + "[" + ts() + "," + price(rng) + ",1.0,\"" + (rng.below(2) ? "long" : "short") + "\"]";
        }
    }
    return R"({"cmd":"load","dataset":{"candles":[)" + candles + R"(],"trades":[)" + trades + R"(],"book":[)" + book +
           R"(],"funding":[)" + funding + R"(],"oi":[)" + oi + R"(],"liquidations":[)" + liquidations + "]}}";
}

std::string spec_command(int k) {
    const std::string bin = std::to_string(k % 3 + 1) + ".0";
    return R"({"cmd":"set_spec","spec":{"dataset_ref":"stress","symbol":"S)" + std::to_string(k) +
           R"(","panels":[{"kind":"footprint","price_bin":)" + bin +
           R"(},{"kind":"book_heatmap","price_bin":0.5,"bucket_ms":5000,"depth_levels":16},)"
           R"({"kind":"liquidation_map","price_bin":)" + bin +
           R"(},{"kind":"funding_oi_divergence","bucket_ms":2000},{"kind":"footprint","price_bin":0.25},)"
           R"({"kind":"book_heatmap","price_bin":1.0,"bucket_ms":20000,"depth_levels":8}]}})";
}

// Everything one thread does, as the list of responses.
std::vector<std::string> workload(int k, int rounds) {
    ovra::HandleState state;
    std::vector<std::string> out;
    out.push_back(ovra::dispatch_command(state, spec_command(k)));
    // Every other thread loads a book long enough for its replays to be
    // shared between pool threads.
    const std::string load = load_command(static_cast<std::uint64_t>(k % 4), k % 2 ? 600 : 48'000);
    for (int r = 0; r < rounds; ++r) {
        out.push_back(ovra::dispatch_command(state, load));
        for (int c = 0; c < 5; ++c) {
            const std::string ts = std::to_string(1'000'000 + 60'000 * c + 1'000 * k);
            out.push_back(ovra::dispatch_command(state, R"({"cmd":"frame_at","ts":)" + ts + "}"));
        }
        out.push_back(ovra::dispatch_command(state, R"({"cmd":"frame"})"));
        out.push_back(ovra::dispatch_command(state, R"({"cmd":"reset"})"));
        out.push_back(ovra::dispatch_command(state, R"({"cmd":"frame"})"));
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const int threads = argc > 1 ? std::atoi(argv[1]) : 8;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    std::vector<std::vector<std::string>> expected;
    for (int k = 0; k < threads; ++k) expected.push_back(workload(k, rounds));
    if (expected[0][2].rfind(R"({"symbol":"S0")", 0) != 0) {
        std::fprintf(stderr, "the workload computes no frame: %s\n", expected[0][2].substr(0, 200).c_str());
        return 1;
    }
    std::vector<std::vector<std::string>> results(static_cast<std::size_t>(threads));
    std::vector<std::thread> pool;
    for (int k = 0; k < threads; ++k) {
        pool.emplace_back([k, rounds, &results] { results[static_cast<std::size_t>(k)] = workload(k, rounds); });
    }
    for (auto& t : pool) t.join();
    for (int k = 0; k < threads; ++k) {
        if (results[static_cast<std::size_t>(k)] != expected[static_cast<std::size_t>(k)]) {
            std::fprintf(stderr, "thread %d: responses differ from the single-threaded run\n", k);
            return 1;
        }
    }
    std::printf("thread_stress: %d threads x %d rounds, %zu responses each, all identical\n", threads, rounds,
                expected[0].size());
    return 0;
}
