// The frame road of a handle: the same frame text as compute_frame followed
// by frame_to_json, byte for byte and with the same errors in the same order,
// made from what the handle's FrameCache keeps between frames.
#pragma once

#include <cstdint>
#include <string>

#include "frame/frame_cache.h"
#include "result.h"
#include "spec.h"

namespace ovra {

// The frame text at `cursor`, or the error compute_frame would give. The
// panels run on the worker pool; the cache is touched by this call only.
Result<std::string> cached_frame_text(FrameCache& cache, const OvraSpec& spec, std::int64_t cursor);

}  // namespace ovra
