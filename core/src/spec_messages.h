// serde-style reading messages of the spec and its panels, shared by the
// value road (parsed tree) and the text road (streaming reader), plus the
// scalar field conversions (string, i64, optional i64, u32, f64) that yield
// either the field value or the exact message.
//
// The text road passes a scalar it has just read as a json::Value made on
// the spot (Value::pos_int / neg_int / floating / string / boolean / null;
// no allocation, the string bytes only need to outlive the call); for an
// array or object it passes Value::array(nullptr, 0) / Value::object(nullptr, 0),
// which describe themselves as "sequence" / "map".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "json/json_value.h"
#include "json/unexpected.h"
#include "result.h"
#include "spec.h"

namespace ovra::spec_messages {

// The "expected ..." part of each message, for invalid_type() and friends.
inline constexpr std::string_view kExpectSpec = "struct OvraSpec";
inline constexpr std::string_view kExpectPanel = "internally tagged enum OvraPanel";
inline constexpr std::string_view kExpectVariant = "variant identifier";
inline constexpr std::string_view kExpectString = "a string";
inline constexpr std::string_view kExpectSequence = "a sequence";
inline constexpr std::string_view kExpectI64 = "i64";
inline constexpr std::string_view kExpectU32 = "u32";
inline constexpr std::string_view kExpectF64 = "f64";

// Number of fields of the spec record (its array form), their keys in
// declaration order, and which of them a spec must hold (the window ends are
// optional).
inline constexpr std::size_t kSpecFieldCount = 5;
inline constexpr std::array<std::string_view, kSpecFieldCount> kSpecKeys = {"dataset_ref", "symbol", "from_ts",
                                                                            "to_ts", "panels"};
inline constexpr std::array<bool, kSpecFieldCount> kSpecFieldRequired = {true, true, false, false, true};

// "invalid type: {unexpected}, expected {what}" / "invalid value: {unexpected}, expected {what}"
using json::invalid_type;
using json::invalid_value;

// "invalid length {n}, expected struct OvraSpec with 5 elements"
std::string spec_too_short(std::size_t n);
// "invalid length {n}, expected fewer elements in array" (value road only)
std::string spec_too_long(std::size_t n);
// "invalid length {n}, expected {m} elements in sequence" ("1 element" when m is 1);
// n counts the elements after the kind, m is the variant's field count.
std::string panel_too_long(std::size_t n, std::size_t m);

// "missing field `{name}`" / "duplicate field `{name}`"
using json::missing_field;
std::string duplicate_field(std::string_view name);

// "unknown variant `{word}`, expected one of `footprint`, `book_heatmap`, ..."
std::string unknown_panel_variant(std::string_view word);

// The length the spec array reports when it is too short, by its actual
// length: 0 and 1 report themselves, 2..4 report 4 (the window elements may be
// left out, but only together with the panel list).
std::size_t spec_short_length_reported(std::size_t n);

// The panel kind of a "kind" member: its variant index, or the message
// ("expected variant identifier" for a non-string, "unknown variant" for an
// unknown word).
Result<std::size_t, std::string> panel_kind(const json::Value& kind);

// Number of fields of a panel variant (the length of its array form).
std::size_t panel_field_count(std::size_t variant_index) noexcept;
// Position of key among the variant's fields, or nullopt when the variant has no such field.
std::optional<std::size_t> panel_field_position(std::size_t variant_index, std::string_view key) noexcept;

// A panel of the given variant with every field at its default.
OvraPanel default_panel(std::size_t variant_index);
// Converts value into field number `field` (declaration order) of the panel's variant.
Result<Ok, std::string> read_panel_field(OvraPanel& panel, std::size_t field, const json::Value& value);

// Puts a converted value into its field, or passes the conversion's message on.
template <class T>
Result<Ok, std::string> store(T& field, Result<T, std::string> converted) {
    if (!converted) return fail(std::move(converted).error());
    field = std::move(converted).value();
    return Ok{};
}

// Scalar field conversions.
Result<std::string, std::string> read_string(const json::Value& value);
Result<std::int64_t, std::string> read_i64(const json::Value& value);
// null is unset; anything else as read_i64.
Result<std::optional<std::int64_t>, std::string> read_optional_i64(const json::Value& value);
Result<std::uint32_t, std::string> read_u32(const json::Value& value);
// Any number; an integer goes to the nearest double.
Result<double, std::string> read_f64(const json::Value& value);

}  // namespace ovra::spec_messages
