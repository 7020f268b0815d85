// Selects the frame window at a cursor and evaluates every panel of the spec
// on the process-wide worker pool, results in spec order.
#pragma once

#include <cstdint>

#include "dataset.h"
#include "frame.h"
#include "frame/frame_window.h"
#include "result.h"
#include "spec.h"

namespace ovra {

// `order`: SeriesOrder::Sorted only when the caller knows every series of
// the dataset is in ts order (sort_dataset ran on it); the window is then
// cut without checking the order again.
Result<Frame> compute_frame(const Dataset& dataset, const OvraSpec& spec, std::int64_t cursor,
                            SeriesOrder order = SeriesOrder::Unknown);

}  // namespace ovra
