// Selects the frame window at a cursor and evaluates every panel of the spec
// on the process-wide worker pool, results in spec order.
#pragma once

#include <cstdint>

#include "dataset.h"
#include "frame.h"
#include "result.h"
#include "spec.h"

namespace ovra {

Result<Frame> compute_frame(const Dataset& dataset, const OvraSpec& spec, std::int64_t cursor);

}  // namespace ovra
