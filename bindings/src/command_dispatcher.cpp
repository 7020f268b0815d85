// Parses one command text, checks the request members in a fixed order and
// runs the command; state is replaced only after every check has passed.
#include "command_dispatcher.h"

#include <cstdint>
#include <cstdlib>
#include <optional>

#include "dataset_fields.h"
#include "dataset_reader.h"
#include "frame/cached_frame.h"
#include "json/json_reader.h"
#include "load/direct_dataset_reader.h"
#include "responses.h"
#include "spec_reader.h"
#include "spec_validation.h"

namespace ovra {

namespace {

using json::Kind;
using json::Value;

Failure<OvraError> error(ErrorKind kind, std::string message) { return fail(OvraError{kind, std::move(message)}); }

std::string store_loaded(HandleState& state, Dataset records) {
    StoredDataset dataset(std::move(records));
    const std::uint64_t count = dataset.records().record_count();
    state.frames.reset();
    state.dataset = std::move(dataset);
    return loaded_response(count);
}

Result<std::string> run_load(HandleState& state, const Value& command) {
    const Value* member = command.find("dataset");
    if (member == nullptr) return error(ErrorKind::BadSpec, "load requires 'dataset'");
    auto converted = dataset_from_json_value(*member);
    if (!converted) return error(ErrorKind::Parse, std::move(converted).error());
    return store_loaded(state, std::move(converted).value());
}

// A "load" whose text the direct road takes; OVRA_LOAD_ROAD=tree (a testing
// switch, answers unchanged) sends every text to the tree road.
std::optional<std::string> try_direct_load(HandleState& state, std::string_view text) {
    const char* road = std::getenv("OVRA_LOAD_ROAD");
    if (road != nullptr && std::string_view(road) == "tree") return std::nullopt;
    auto records = load::read_load_command(text);
    if (!records) return std::nullopt;
    return store_loaded(state, std::move(*records));
}

Result<std::string> run_set_spec(HandleState& state, const Value& command) {
    const Value* member = command.find("spec");
    if (member == nullptr) return error(ErrorKind::BadSpec, "set_spec requires 'spec'");
    auto converted = spec_from_json_value(*member);
    if (!converted) return error(ErrorKind::Parse, std::move(converted).error());
    if (auto valid = validate_spec(converted.value()); !valid) return fail(std::move(valid).error());
    state.spec = std::move(converted).value();
    return ok_response();
}

// An integer within i64, as a record's ts; "-0", fractions and exponents are
// floats and do not qualify.
std::optional<std::int64_t> integer_ts(const Value* ts) {
    std::int64_t out = 0;
    if (ts == nullptr || !read_ts(*ts, out)) return std::nullopt;
    return out;
}

// The handle's frame cache, made for its dataset on first use.
FrameCache& frame_cache(HandleState& state) {
    const Dataset& records = state.dataset.records();
    if (!state.frames || &state.frames->dataset() != &records) {
        state.frames.reset();
        state.frames = std::make_unique<FrameCache>(records,
                                                    frame_cache_limit(records, std::getenv("TAVRIN_OVRA_CACHE_BYTES")));
    }
    return *state.frames;
}

Result<std::string> run_frame(HandleState& state, std::optional<std::int64_t> requested_cursor) {
    if (!state.spec) return error(ErrorKind::BadSpec, "no spec set");
    const auto& bounds = state.dataset.bounds();
    if (!bounds) return error(ErrorKind::Data, "no dataset");
    const std::int64_t cursor = requested_cursor ? *requested_cursor
                                : state.spec->to_ts ? *state.spec->to_ts
                                                    : bounds->to_ts;
    // The same text as compute_frame and frame_to_json give. A frame cut
    // short (exhausted memory) may have left the cache half updated: it goes.
    FrameCache& cache = frame_cache(state);
    try {
        return cached_frame_text(cache, *state.spec, cursor);
    } catch (...) {
        state.frames.reset();
        throw;
    }
}

Result<std::string> run_command(HandleState& state, const Value& command, std::string_view name) {
    if (name == "load") return run_load(state, command);
    if (name == "set_spec") return run_set_spec(state, command);
    if (name == "frame_at") {
        const auto ts = integer_ts(command.find("ts"));
        if (!ts) return error(ErrorKind::BadSpec, "frame_at requires integer 'ts'");
        return run_frame(state, ts);
    }
    if (name == "frame") return run_frame(state, std::nullopt);
    if (name == "bounds") {
        const auto& bounds = state.dataset.bounds();
        if (!bounds) return error(ErrorKind::Data, "no dataset");
        return bounds_response(*bounds);
    }
    if (name == "reset") {
        state.frames.reset();
        state.dataset = StoredDataset{};
        return ok_response();
    }
    if (name == "version") return version_response();
    return error(ErrorKind::BadSpec, "unknown cmd: " + std::string(name));
}

Result<std::string> dispatch(HandleState& state, std::string_view text) {
    if (auto loaded = try_direct_load(state, text)) return std::move(*loaded);
    auto parsed = json::parse_document(text);
    if (!parsed) return error(ErrorKind::Parse, parsed.error().display());
    const Value& command = parsed.value().root();
    const Value* cmd = command.find("cmd");
    if (cmd == nullptr || cmd->kind() != Kind::String) return error(ErrorKind::BadSpec, "missing 'cmd'");
    return run_command(state, command, cmd->as_string());
}

}  // namespace

std::string dispatch_command(HandleState& state, std::string_view command_text) {
    auto result = dispatch(state, command_text);
    if (!result) return error_response(result.error());
    return std::move(result).value();
}

}  // namespace ovra
