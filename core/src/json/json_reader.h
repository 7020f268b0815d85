// Reads a command text into a Document: serde-style messages, a 128 depth
// budget, only the four JSON white-space bytes, positions as line/column.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "json/json_value.h"
#include "result.h"

namespace ovra::json {

struct ReadError {
    std::string message;  // e.g. "expected `,` or `]`"
    std::size_t line = 0;
    std::size_t column = 0;

    // "<message> at line L column C"
    std::string display() const;
};

// Parses exactly one JSON value; only JSON white space may follow it.
Result<Document, ReadError> parse_document(std::string_view text);

}  // namespace ovra::json
