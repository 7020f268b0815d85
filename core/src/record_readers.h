// Conversion of one dataset record from a parsed JSON value: the object form
// (fields by key, every field required) and the array form (fields by position).
#pragma once

#include "dataset.h"
#include "dataset_fields.h"
#include "json/json_value.h"

namespace ovra {

// Each fills `out` field by field; on failure `out` is partly written and
// must be discarded. A book event's levels go into `level_pool`, whose
// capacity must already hold them (see book_level_count).
ReadResult read_record(const json::Value& value, Candle& out);
ReadResult read_record(const json::Value& value, Trade& out);
ReadResult read_record(const json::Value& value, BookEvent& out, Series<BookLevel>& level_pool);
ReadResult read_record(const json::Value& value, FundingEvent& out);
ReadResult read_record(const json::Value& value, OiEvent& out);
ReadResult read_record(const json::Value& value, LiquidationEvent& out);

// At least as many levels as reading the book events of `events` (a parsed
// "book" member) can store: enough capacity for read_record's level pool.
std::size_t book_level_count(const json::Value& events) noexcept;

}  // namespace ovra
