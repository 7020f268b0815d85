// Reads an OvraSpec on two roads: from a parsed value ("set_spec"; members in
// key order, no positions) and from a stripped text (the constructor; document
// order, duplicate fields, " at line L column C" on every error).
#pragma once

#include <string>
#include <string_view>

#include "json/json_value.h"
#include "result.h"
#include "spec.h"

namespace ovra {

Result<OvraSpec, std::string> spec_from_json_value(const json::Value& value);

// text is already stripped, and neither empty nor "{}". The error text is the
// complete message including its position suffix.
Result<OvraSpec, std::string> spec_from_json_text(std::string_view text);

}  // namespace ovra
