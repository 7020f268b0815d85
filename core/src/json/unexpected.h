// serde-style description of an offending JSON value inside reading
// messages (null, boolean `true`, integer `5`, floating point `1.5`,
// string "...", sequence, map) and the reading messages shared by every record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "json/json_value.h"

namespace ovra::json {

std::string describe_unexpected(const Value& value);

std::string describe_bool(bool value);
std::string describe_pos_int(std::uint64_t value);
std::string describe_neg_int(std::int64_t value);
std::string describe_float(double value);
std::string describe_string(std::string_view text);

// "invalid type: {unexpected}, expected {what}"
std::string invalid_type(const Value& value, std::string_view what);
// "invalid value: {unexpected}, expected {what}"
std::string invalid_value(const Value& value, std::string_view what);
// "invalid length {n}, expected {what}"
std::string invalid_length(std::size_t n, std::string_view what);
// An array form with surplus elements: "invalid length {n}, expected fewer elements in array"
std::string too_many_elements(std::size_t n);
// "missing field `{name}`"
std::string missing_field(std::string_view name);

}  // namespace ovra::json
