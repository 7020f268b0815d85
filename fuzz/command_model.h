// A small model of one handle for the fuzz harness: what a command text asks
// for (read with the harness's own JSON reader), which responses it may get,
// and what the handle must look like afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "response_shapes.h"

namespace ovra_fuzz {

// What the harness reads out of one command text. `understood` is false when
// the harness's reader rejects the text; nothing is then predicted.
struct CommandView {
    bool understood = false;
    bool has_name = false;  // an object with a string "cmd"
    std::string name;
    bool has_request_member = false;  // "dataset" / "spec" for load / set_spec
    std::optional<std::int64_t> ts;   // "frame_at": an integer within i64
    std::optional<std::uint64_t> record_count;  // "load": records in "dataset", when countable
    // "set_spec": the new spec's to_ts (outer nullopt: unknown).
    std::optional<std::optional<std::int64_t>> spec_to_ts;
};

CommandView read_command(std::string_view text, bool utf8);

struct HandleModel {
    bool has_spec = false;
    std::uint64_t records = 0;
    std::optional<std::optional<std::int64_t>> spec_to_ts = std::optional<std::int64_t>{};  // no spec yet
    std::optional<std::int64_t> latest_ts;  // to_ts of the last "bounds" probe
};

// Checks a response against what the command allows in this state; on success
// the model is advanced to the state after the command. Returns false with a
// reason when the response is not one the command may give.
bool expect_response(const CommandView& command, const Response& response, HandleModel& model, std::string& why);

// Checks the two probe answers ("bounds" and "frame") against the model and
// notes the dataset's latest timestamp in it.
bool expect_probes(HandleModel& model, std::string_view bounds_text, std::string_view frame_text,
                   bool utf8, std::string& why);

// After a command the harness could not read succeeded, takes the state from
// the probes instead of predicting it.
void resync_model(HandleModel& model, std::string_view bounds_text, std::string_view frame_text, bool utf8);

}  // namespace ovra_fuzz
