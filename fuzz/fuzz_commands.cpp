// libFuzzer target over the command dispatcher. One input is a sequence of
// command texts separated by the byte 0x1E, run on one handle state. Checked
// after every command: the response is compact, valid UTF-8 JSON of a
// documented shape and one the command may give in this state; a failed or
// read-only command leaves "bounds" and "frame" answering exactly as before;
// and the same sequence on a fresh state gives the same responses again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <numeric>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "command_dispatcher.h"
#include "frame/frame_engine.h"
#include "frame_writer.h"
#include "responses.h"
#include "command_model.h"
#include "frame_cost.h"
#include "json_check.h"
#include "response_shapes.h"

namespace {

using namespace ovra_fuzz;

constexpr char kSeparator = '\x1e';
constexpr std::size_t kMaxCommands = 24;
// Bounds on the work of one input. A grid panel may hold 10 million cells and
// the grids of one frame 40 million (a near-limit funding grid writes hundreds
// of MB of frame text and takes over ten seconds under ASan). A frame the frame-wide
// budget refuses allocates nothing and is always run; any other frame that
// would allocate more than kFrameCells grid cells is not computed: the
// sequence stops before it, however many grid panels the spec has. A sequence
// also stops once its frames have written kFrameBytesPerInput.
constexpr std::size_t kFrameBytesPerInput = 16u << 20;
constexpr std::int64_t kFrameCells = 4'000'000;

std::vector<std::string_view> split_commands(std::string_view input) {
    std::vector<std::string_view> commands;
    while (commands.size() < kMaxCommands) {
        const std::size_t end = input.find(kSeparator);
        commands.push_back(input.substr(0, end));
        if (end == std::string_view::npos) break;
        input.remove_prefix(end + 1);
    }
    return commands;
}

void print_escaped(const char* label, std::string_view text) {
    std::fprintf(stderr, "%s (%zu bytes): ", label, text.size());
    for (unsigned char c : text.substr(0, 2000)) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            std::fputc(c, stderr);
        } else {
            std::fprintf(stderr, "\\x%02x", c);
        }
    }
    std::fputc('\n', stderr);
}

[[noreturn]] void broken(const std::string& why, std::size_t index, std::string_view command, std::string_view response) {
    std::fprintf(stderr, "\ninvariant broken at command %zu: %s\n", index, why.c_str());
    print_escaped("command", command);
    print_escaped("response", response);
    std::abort();
}

struct Probe {
    std::string bounds;
    std::string frame;
    bool operator==(const Probe&) const = default;
};

// The frame as the reference road makes it, with no cache: compute_frame
// and frame_to_json. Absent when the command would not reach the engine.
std::optional<std::string> reference_frame(const ovra::HandleState& state, std::optional<std::int64_t> ts) {
    const auto& bounds = state.dataset.bounds();
    if (!state.spec || !bounds) return std::nullopt;
    const std::int64_t cursor = ts ? *ts : state.spec->to_ts ? *state.spec->to_ts : bounds->to_ts;
    auto frame = ovra::compute_frame(state.dataset.records(), *state.spec, cursor, ovra::SeriesOrder::Sorted);
    if (!frame) return ovra::error_response(frame.error());
    return ovra::frame_to_json(frame.value());
}

// Both probes only read the state; the second run (without probes) checks
// that they really change nothing.
Probe probe(ovra::HandleState& state) {
    return {ovra::dispatch_command(state, R"({"cmd":"bounds"})"), ovra::dispatch_command(state, R"({"cmd":"frame"})")};
}

bool changes_state(const CommandView& command, Shape shape) {
    if (shape == Shape::Error || shape == Shape::Bounds || shape == Shape::Version || shape == Shape::Frame) return false;
    return !command.has_name || command.name == "load" || command.name == "set_spec" || command.name == "reset";
}

// Whether a frame at this cursor (nullopt: the one "frame" and the probe use)
// would cost more than one input may spend.
bool too_costly(const ovra::HandleState& state, std::optional<std::int64_t> cursor) {
    return planned_frame_cells(state, cursor) > kFrameCells;
}

// More frames on the same handle after a "frame_at" at `ts`: next to it, at
// the ends of the data and half way, then at `ts` again, each the reference
// road's frame. What the handle keeps between frames must never show, and
// the second run (without these) then has another history of its caches.
void scrub_around(ovra::HandleState& state, std::int64_t ts, std::size_t index, std::size_t& frame_bytes) {
    const auto& bounds = state.dataset.bounds();
    if (!state.spec || !bounds) return;
    constexpr auto kLeast = std::numeric_limits<std::int64_t>::min();
    constexpr auto kMost = std::numeric_limits<std::int64_t>::max();
    const std::int64_t cursors[] = {ts == kLeast ? ts : ts - 1, ts == kMost ? ts : ts + 1, bounds->from_ts,
                                    std::midpoint(bounds->from_ts, bounds->to_ts), bounds->to_ts, ts};
    for (const std::int64_t cursor : cursors) {
        if (too_costly(state, cursor) || frame_bytes > kFrameBytesPerInput) return;
        const std::string command = R"({"cmd":"frame_at","ts":)" + std::to_string(cursor) + "}";
        const std::string response = ovra::dispatch_command(state, command);
        const auto reference = reference_frame(state, cursor);
        if (reference && *reference != response) broken("scrubbed frame differs from the reference road", index, command, *reference);
        frame_bytes += response.size();
    }
}

// The responses of the commands run; fewer than given once the frame budget is spent.
std::vector<std::string> run_checked(const std::vector<std::string_view>& commands) {
    ovra::HandleState state;
    HandleModel model;
    bool utf8 = true;  // once a command was not UTF-8, responses may echo its bytes
    std::string why;
    std::vector<std::string> responses;
    std::size_t frame_bytes = 0;
    Probe before = probe(state);
    if (!expect_probes(model, before.bounds, before.frame, utf8, why)) broken(why, 0, "", before.frame);
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const std::string_view command = commands[i];
        utf8 = utf8 && is_valid_utf8(command);
        const CommandView view = read_command(command, utf8);
        // "frame" computes what the last probe did; "frame_at" may see another window.
        if (view.name == "frame_at" && view.ts && too_costly(state, view.ts)) break;
        std::string response = ovra::dispatch_command(state, command);
        // Every frame of the handle, answered from what it keeps between
        // frames, is the reference road's frame.
        if (view.understood && (view.name == "frame_at" || view.name == "frame")) {
            const auto reference = reference_frame(state, view.name == "frame_at" ? view.ts : std::nullopt);
            if (reference && (view.name == "frame" || view.ts) && *reference != response) {
                broken("frame differs from the reference road", i, command, *reference);
            }
            if (view.name == "frame_at" && view.ts) scrub_around(state, *view.ts, i, frame_bytes);
        }
        Response classified;
        if (!classify_response(response, utf8, classified, why)) broken(why, i, command, response);
        const bool was_understood_success = view.understood && classified.shape != Shape::Error;
        if (!expect_response(view, classified, model, why)) broken(why, i, command, response);
        if (too_costly(state, std::nullopt)) {
            responses.push_back(std::move(response));
            break;  // the probes would compute the costly frame
        }
        Probe after = probe(state);
        if (const auto reference = reference_frame(state, std::nullopt); reference && *reference != after.frame) {
            broken("probe frame differs from the reference road", i, command, *reference);
        }
        if (!changes_state(view, classified.shape) && after != before) {
            broken("state changed by a command that failed or only reads", i, command, after.bounds + after.frame);
        }
        if (!was_understood_success && classified.shape != Shape::Error) {
            resync_model(model, after.bounds, after.frame, utf8);
        }
        if (!expect_probes(model, after.bounds, after.frame, utf8, why)) {
            broken(why, i, command, after.bounds + " / " + after.frame);
        }
        frame_bytes += response.size() + after.frame.size();
        responses.push_back(std::move(response));
        before = std::move(after);
        if (frame_bytes > kFrameBytesPerInput) break;
    }
    return responses;
}

std::vector<std::string> run_plain(const std::vector<std::string_view>& commands) {
    ovra::HandleState state;
    std::vector<std::string> responses;
    responses.reserve(commands.size());
    for (std::string_view command : commands) responses.push_back(ovra::dispatch_command(state, command));
    return responses;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    auto commands = split_commands(input);
    const auto first = run_checked(commands);
    commands.resize(first.size());
    const auto second = run_plain(commands);
    for (std::size_t i = 0; i < commands.size(); ++i) {
        if (first[i] != second[i]) {
            std::fprintf(stderr, "\nsame input, different output at command %zu\n", i);
            print_escaped("command", commands[i]);
            print_escaped("first", first[i]);
            print_escaped("second", second[i]);
            std::abort();
        }
    }
    return 0;
}
