// serde-style descriptions of an offending value and the invalid type/value/length messages.
#include "json/unexpected.h"

#include "json/debug_string.h"
#include "json/float_format.h"

namespace ovra::json {

std::string describe_bool(bool value) { return value ? "boolean `true`" : "boolean `false`"; }

std::string describe_pos_int(std::uint64_t value) { return "integer `" + std::to_string(value) + "`"; }

std::string describe_neg_int(std::int64_t value) { return "integer `" + std::to_string(value) + "`"; }

std::string describe_float(double value) { return "floating point `" + float_text(value) + "`"; }

std::string describe_string(std::string_view text) {
    std::string out = "string ";
    append_debug_quoted(out, text);
    return out;
}

std::string describe_unexpected(const Value& value) {
    switch (value.kind()) {
        case Kind::Null: return "null";
        case Kind::Bool: return describe_bool(value.as_bool());
        case Kind::PosInt: return describe_pos_int(value.as_pos_int());
        case Kind::NegInt: return describe_neg_int(value.as_neg_int());
        case Kind::Float: return describe_float(value.as_float());
        case Kind::String: return describe_string(value.as_string());
        case Kind::Array: return "sequence";
        case Kind::Object: return "map";
    }
    return "";
}

namespace {

std::string unexpected_message(std::string_view head, const Value& value, std::string_view what) {
    std::string out(head);
    out += describe_unexpected(value);
    out += ", expected ";
    out += what;
    return out;
}

}  // namespace

std::string invalid_type(const Value& value, std::string_view what) {
    return unexpected_message("invalid type: ", value, what);
}

std::string invalid_value(const Value& value, std::string_view what) {
    return unexpected_message("invalid value: ", value, what);
}

std::string invalid_length(std::size_t n, std::string_view what) {
    std::string out = "invalid length " + std::to_string(n) + ", expected ";
    out += what;
    return out;
}

std::string too_many_elements(std::size_t n) { return invalid_length(n, "fewer elements in array"); }

std::string missing_field(std::string_view name) {
    std::string out = "missing field `";
    out += name;
    out += '`';
    return out;
}

}  // namespace ovra::json
