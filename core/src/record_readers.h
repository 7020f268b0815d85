// Conversion of one dataset record from a parsed JSON value: the object form
// (fields by key, every field required) and the array form (fields by position).
#pragma once

#include "dataset.h"
#include "dataset_fields.h"
#include "json/json_value.h"

namespace ovra {

// Each fills `out` field by field; on failure `out` is partly written and
// must be discarded.
ReadResult read_record(const json::Value& value, Candle& out);
ReadResult read_record(const json::Value& value, Trade& out);
ReadResult read_record(const json::Value& value, BookEvent& out);
ReadResult read_record(const json::Value& value, FundingEvent& out);
ReadResult read_record(const json::Value& value, OiEvent& out);
ReadResult read_record(const json::Value& value, LiquidationEvent& out);

}  // namespace ovra
