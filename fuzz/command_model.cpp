// The harness's handle model: per command name the responses allowed, the
// exact texts of the dispatcher's own errors, and the state each success leaves.
#include "command_model.h"

#include <charconv>

#include "json_check.h"

namespace ovra_fuzz {

namespace {

using Type = JsonNode::Type;

constexpr std::string_view kNoDataset = R"({"ok":false,"error":"data: no dataset"})";
constexpr std::string_view kNoSpec = R"({"ok":false,"error":"bad spec: no spec set"})";

std::optional<std::int64_t> integer_within_i64(const JsonNode& node) {
    if (node.type != Type::Number || node.text == "-0" || !is_integer_token(node.text)) return std::nullopt;
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(node.text.data(), node.text.data() + node.text.size(), value);
    if (ec != std::errc() || end != node.text.data() + node.text.size()) return std::nullopt;
    return value;
}

std::optional<std::uint64_t> count_records(const JsonNode& dataset) {
    static constexpr std::string_view kSeries[] = {"candles", "trades", "book", "funding", "oi", "liquidations"};
    std::uint64_t total = 0;
    if (dataset.type == Type::Object) {
        for (std::string_view key : kSeries) {
            const JsonNode* series = dataset.find(key);
            if (series != nullptr && series->type == Type::Array) total += series->items.size();
        }
        return total;
    }
    if (dataset.type == Type::Array) {
        for (std::size_t i = 0; i < dataset.items.size() && i < 6; ++i) {
            if (dataset.items[i].type == Type::Array) total += dataset.items[i].items.size();
        }
        return total;
    }
    return std::nullopt;
}

// to_ts of a spec value, as far as it can be read (outer nullopt: unknown).
std::optional<std::optional<std::int64_t>> read_spec_to_ts(const JsonNode& spec) {
    const JsonNode* to = nullptr;
    if (spec.type == Type::Object) {
        to = spec.find("to_ts");
    } else if (spec.type == Type::Array) {
        if (spec.items.size() > 3) to = &spec.items[3];
    } else {
        return std::nullopt;
    }
    if (to == nullptr || to->type == Type::Null) return std::optional<std::int64_t>{};
    if (const auto value = integer_within_i64(*to)) return std::optional<std::int64_t>{*value};
    return std::nullopt;
}

bool is_parse_error(const Response& r) { return r.shape == Shape::Error && r.error.starts_with("parse: "); }

// A panel grid too large to hold (or with bucket starts beyond i64), and grids
// over the frame-wide budget together ("frame grids too large"), are refused
// with a "data: " error instead of a frame.
bool is_grid_refusal(const Response& r) {
    return r.shape == Shape::Error && r.error.starts_with("data: ") && r.error != "data: no dataset";
}

// "parse: <message> at line L column C": the text itself was refused.
bool is_text_parse_error(const Response& r) {
    if (!is_parse_error(r)) return false;
    std::string_view text = r.error;
    const auto strip_digits = [&text]() {
        const std::size_t before = text.size();
        while (!text.empty() && text.back() >= '0' && text.back() <= '9') text.remove_suffix(1);
        return text.size() < before;
    };
    if (!strip_digits() || !text.ends_with(" column ")) return false;
    text.remove_suffix(8);
    return strip_digits() && text.ends_with(" at line ");
}

bool fail_with(std::string& why, std::string text) {
    why = std::move(text);
    return false;
}

// "frame" / "frame_at": no spec is checked before no data; the cursor is
// clamped to the spec's to_ts ("frame" without to_ts: the latest record).
bool expect_frame(const CommandView& command, const Response& r, const HandleModel& model, std::string& why) {
    if (command.name == "frame_at" && !command.ts) {
        if (r.shape == Shape::Error && r.error == "bad spec: frame_at requires integer 'ts'") return true;
        return fail_with(why, "frame_at without an integer ts must be refused");
    }
    if (!model.has_spec) {
        if (r.shape == Shape::Error && r.error == "bad spec: no spec set") return true;
        return fail_with(why, "frame without spec must answer 'no spec set'");
    }
    if (model.records == 0) {
        if (r.shape == Shape::Error && r.error == "data: no dataset") return true;
        return fail_with(why, "frame without data must answer 'no dataset'");
    }
    if (is_grid_refusal(r)) return true;
    if (r.shape != Shape::Frame) return fail_with(why, "frame with spec and data did not answer a frame");
    if (!model.spec_to_ts || !r.cursor_known) return true;
    const std::optional<std::int64_t> to = *model.spec_to_ts;
    std::optional<std::int64_t> expected;
    if (command.name == "frame_at") {
        expected = (to && *to < *command.ts) ? *to : *command.ts;
    } else {
        expected = to ? to : model.latest_ts;
    }
    if (expected && r.cursor_ts != *expected) return fail_with(why, "frame cursor_ts is not the clamped cursor");
    return true;
}

bool expect_named(const CommandView& command, const Response& r, HandleModel& model, std::string& why) {
    const std::string& name = command.name;
    if (name == "version") {
        return r.shape == Shape::Version || fail_with(why, "version must answer the version object");
    }
    if (name == "reset") {
        if (r.shape != Shape::Ack) return fail_with(why, "reset must answer the plain acknowledgement");
        model.records = 0;
        return true;
    }
    if (name == "bounds") {
        if (model.records == 0) {
            return (r.shape == Shape::Error && r.error == "data: no dataset") ||
                   fail_with(why, "bounds without data must answer 'no dataset'");
        }
        if (r.shape != Shape::Bounds || r.count != model.records) return fail_with(why, "bounds disagree with the load");
        return true;
    }
    if (name == "frame" || name == "frame_at") return expect_frame(command, r, model, why);
    if (name == "load") {
        if (!command.has_request_member) {
            return (r.shape == Shape::Error && r.error == "bad spec: load requires 'dataset'") ||
                   fail_with(why, "load without dataset must say so");
        }
        if (is_parse_error(r)) return true;
        if (r.shape != Shape::Loaded) return fail_with(why, "load answered neither a count nor a parse error");
        if (command.record_count && r.loaded != *command.record_count) {
            return fail_with(why, "load count differs from the records sent");
        }
        model.records = r.loaded;
        return true;
    }
    if (name == "set_spec") {
        if (!command.has_request_member) {
            return (r.shape == Shape::Error && r.error == "bad spec: set_spec requires 'spec'") ||
                   fail_with(why, "set_spec without spec must say so");
        }
        if (r.shape == Shape::Error && (r.error.starts_with("parse: ") || r.error.starts_with("bad spec: "))) {
            return true;
        }
        if (r.shape != Shape::Ack) return fail_with(why, "set_spec answered neither ok nor a spec error");
        model.has_spec = true;
        model.spec_to_ts = command.spec_to_ts;
        return true;
    }
    if (r.shape == Shape::Error && r.error == "bad spec: unknown cmd: " + name) return true;
    return fail_with(why, "unknown command name not echoed in the error");
}

}  // namespace

CommandView read_command(std::string_view text, bool utf8) {
    JsonCheckOptions options;
    options.allow_whitespace = true;
    options.require_utf8 = utf8;
    options.max_depth = 127;
    CommandView view;
    const auto parsed = parse_strict(text, options);
    if (!parsed) return view;
    view.understood = true;
    const JsonNode* cmd = parsed->type == Type::Object ? parsed->find("cmd") : nullptr;
    if (cmd == nullptr || cmd->type != Type::String) return view;
    view.has_name = true;
    view.name = cmd->text;
    if (view.name == "load") {
        const JsonNode* dataset = parsed->find("dataset");
        view.has_request_member = dataset != nullptr;
        if (dataset != nullptr) view.record_count = count_records(*dataset);
    } else if (view.name == "set_spec") {
        const JsonNode* spec = parsed->find("spec");
        view.has_request_member = spec != nullptr;
        if (spec != nullptr) {
            view.spec_to_ts = read_spec_to_ts(*spec);
        }
    } else if (view.name == "frame_at") {
        const JsonNode* ts = parsed->find("ts");
        if (ts != nullptr) view.ts = integer_within_i64(*ts);
    }
    return view;
}

bool expect_response(const CommandView& command, const Response& r, HandleModel& model, std::string& why) {
    if (!command.understood) return true;
    // The dispatcher's reader refuses a little more than the harness's (numbers
    // out of range): an error of reading the text is always possible.
    if (is_text_parse_error(r)) return true;
    if (!command.has_name) {
        return (r.shape == Shape::Error && r.error == "bad spec: missing 'cmd'") ||
               fail_with(why, "a command without a string cmd must answer 'missing 'cmd''");
    }
    return expect_named(command, r, model, why);
}

bool expect_probes(HandleModel& model, std::string_view bounds_text, std::string_view frame_text, bool utf8,
                   std::string& why) {
    Response bounds;
    if (model.records == 0) {
        if (bounds_text != kNoDataset) return fail_with(why, "probe: bounds of an empty handle");
        model.latest_ts.reset();
    } else {
        if (!classify_response(bounds_text, utf8, bounds, why)) return false;
        if (bounds.shape != Shape::Bounds || bounds.count != model.records) {
            return fail_with(why, "probe: bounds disagree with the records loaded");
        }
        model.latest_ts = bounds.to_ts;
    }
    if (!model.has_spec) return frame_text == kNoSpec || fail_with(why, "probe: frame without spec");
    if (model.records == 0) return frame_text == kNoDataset || fail_with(why, "probe: frame without data");
    Response frame;
    if (!classify_response(frame_text, utf8, frame, why)) return false;
    if (is_grid_refusal(frame)) return true;
    if (frame.shape != Shape::Frame) return fail_with(why, "probe: no frame with spec and data");
    if (model.spec_to_ts && frame.cursor_known) {
        const std::optional<std::int64_t> expected = *model.spec_to_ts ? *model.spec_to_ts : model.latest_ts;
        if (frame.cursor_ts != *expected) return fail_with(why, "probe: frame cursor is not to_ts / the latest record");
    }
    return true;
}

void resync_model(HandleModel& model, std::string_view bounds_text, std::string_view frame_text, bool utf8) {
    Response bounds;
    std::string why;
    model.records = classify_response(bounds_text, utf8, bounds, why) && bounds.shape == Shape::Bounds ? bounds.count : 0;
    if (frame_text != kNoSpec && !model.has_spec) {
        model.has_spec = true;
        model.spec_to_ts.reset();
    } else if (model.has_spec) {
        model.spec_to_ts.reset();  // a spec we could not read may have replaced the known one
    }
}

}  // namespace ovra_fuzz
