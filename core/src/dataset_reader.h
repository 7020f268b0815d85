// Converts the parsed "dataset" member of a "load" command into a Dataset.
#pragma once

#include <string>

#include "dataset.h"
#include "json/json_value.h"
#include "result.h"

namespace ovra {

// The Dataset (not yet sorted), or the conversion message (no position).
Result<Dataset, std::string> dataset_from_json_value(const json::Value& value);

}  // namespace ovra
