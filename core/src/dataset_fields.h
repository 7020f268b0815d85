// Conversion of single record fields from a parsed JSON value: timestamps,
// floats, the two-word enumerations and book level lists, with serde-style
// messages. The common, successful path is inline; messages are built out of line.
#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dataset.h"
#include "json/json_value.h"
#include "result.h"

namespace ovra {

// Success, or the conversion message (no position).
using ReadResult = Result<Ok, std::string>;

namespace detail {
[[gnu::cold]] ReadResult ts_error(const json::Value& value);
[[gnu::cold]] ReadResult f64_error(const json::Value& value);
}  // namespace detail

// A JSON integer within i64. Integers beyond the parser's 64-bit range and
// numbers with a fraction or exponent arrive as floats and are refused.
inline ReadResult read_ts(const json::Value& value, std::int64_t& out) {
    if (value.kind() == json::Kind::NegInt) {
        out = value.as_neg_int();
        return Ok{};
    }
    if (value.kind() == json::Kind::PosInt &&
        value.as_pos_int() <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        out = static_cast<std::int64_t>(value.as_pos_int());
        return Ok{};
    }
    return detail::ts_error(value);
}

// Any JSON number; an integer becomes the nearest double.
inline ReadResult read_f64(const json::Value& value, double& out) {
    switch (value.kind()) {
        case json::Kind::Float: out = value.as_float(); return Ok{};
        case json::Kind::PosInt: out = static_cast<double>(value.as_pos_int()); return Ok{};
        case json::Kind::NegInt: out = static_cast<double>(value.as_neg_int()); return Ok{};
        default: return detail::f64_error(value);
    }
}

// A word as a string, or as an object {"word": null}.
ReadResult read_enum(const json::Value& value, TradeSide& out);
ReadResult read_enum(const json::Value& value, BookEventKind& out);
ReadResult read_enum(const json::Value& value, LiquidationSide& out);

// An array of [price, qty] pairs, kept in input order: appended to `pool`,
// `out` viewing them there. The pool's capacity must already hold them (the
// views of earlier events stay valid only while the pool never reallocates).
ReadResult read_levels(const json::Value& value, Series<BookLevel>& pool, std::span<const BookLevel>& out);

}  // namespace ovra
