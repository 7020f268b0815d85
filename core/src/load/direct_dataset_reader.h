// The direct road of "load": one pass over the command text that converts
// its member "dataset" into records without building a value tree. It takes
// only texts that the tree road would load successfully, and gives the same
// records for them; for any other text it answers "not taken" (nullopt), and
// the caller runs the tree road, which then reports the exact error.
#pragma once

#include <optional>
#include <string_view>

#include "dataset.h"
#include "load/direct_series.h"

namespace ovra::load {

// The dataset of a command text whose last "cmd" member is the string
// "load" and whose last "dataset" member converts; not yet sorted. Long
// series arrays are shared with a pool worker as `policy` says.
std::optional<Dataset> read_load_command(std::string_view text, const SplitPolicy& policy = {});

// A text holding only a dataset value (white space around it allowed), read
// as the tree road would read it; not yet sorted.
std::optional<Dataset> read_dataset_text(std::string_view text, const SplitPolicy& policy = {});

}  // namespace ovra::load
