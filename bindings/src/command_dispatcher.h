// One command text in, one response text out. Never throws an OvraError
// outward: every failure becomes the error envelope, and the handle state
// changes only when a command succeeds as a whole.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "frame/frame_cache.h"
#include "spec.h"
#include "stored_dataset.h"

namespace ovra {

struct HandleState {
    std::optional<OvraSpec> spec;
    StoredDataset dataset;
    // What frames keep between calls for `dataset`: made by the first frame,
    // dropped with the dataset ("load", "reset"), kept by "set_spec".
    std::unique_ptr<FrameCache> frames;
};

std::string dispatch_command(HandleState& state, std::string_view command_text);

}  // namespace ovra
