// The value road of spec reading: converts the "spec" member of a parsed
// command. Objects are maps sorted by key, so members are visited in key
// order and the first failing key (by byte order) is the one reported.
#include <cstddef>

#include "spec_messages.h"
#include "spec_reader.h"

namespace ovra {

namespace {

using json::Kind;
using json::Value;
namespace msg = spec_messages;
using msg::kSpecFieldRequired;
using msg::kSpecKeys;

template <class T>
using Read = Result<T, std::string>;

Read<OvraPanel> panel_from_object(const Value& object) {
    const Value* kind = object.find("kind");
    if (kind == nullptr) return fail(msg::missing_field("kind"));
    auto variant = msg::panel_kind(*kind);
    if (!variant) return fail(std::move(variant).error());
    OvraPanel panel = msg::default_panel(variant.value());
    for (const json::Member& member : object.as_object()) {
        const auto field = msg::panel_field_position(variant.value(), member.key);
        if (!field) continue;
        if (auto stored = msg::read_panel_field(panel, *field, member.value); !stored) {
            return fail(std::move(stored).error());
        }
    }
    return panel;
}

// [kind, field0, field1, ...]: fields are converted first, the length is checked after.
Read<OvraPanel> panel_from_array(std::span<const Value> items) {
    if (items.empty()) return fail(msg::missing_field("kind"));
    auto variant = msg::panel_kind(items[0]);
    if (!variant) return fail(std::move(variant).error());
    OvraPanel panel = msg::default_panel(variant.value());
    const std::size_t field_count = msg::panel_field_count(variant.value());
    const std::size_t given = items.size() - 1;
    for (std::size_t field = 0; field < given && field < field_count; ++field) {
        if (auto stored = msg::read_panel_field(panel, field, items[field + 1]); !stored) {
            return fail(std::move(stored).error());
        }
    }
    if (given > field_count) return fail(msg::panel_too_long(given, field_count));
    return panel;
}

Read<OvraPanel> panel_from_value(const Value& value) {
    if (value.kind() == Kind::Object) return panel_from_object(value);
    if (value.kind() == Kind::Array) return panel_from_array(value.as_array());
    return fail(msg::invalid_type(value, msg::kExpectPanel));
}

Read<std::vector<OvraPanel>> panels_from_value(const Value& value) {
    if (value.kind() != Kind::Array) return fail(msg::invalid_type(value, msg::kExpectSequence));
    std::vector<OvraPanel> panels;
    panels.reserve(value.as_array().size());
    for (const Value& item : value.as_array()) {
        auto panel = panel_from_value(item);
        if (!panel) return fail(std::move(panel).error());
        panels.push_back(panel.value());
    }
    return panels;
}

// Converts value into spec field number `field` (declaration order).
Read<Ok> read_spec_field(OvraSpec& spec, std::size_t field, const Value& value) {
    using msg::store;
    switch (field) {
        case 0: return store(spec.dataset_ref, msg::read_string(value));
        case 1: return store(spec.symbol, msg::read_string(value));
        case 2: return store(spec.from_ts, msg::read_optional_i64(value));
        case 3: return store(spec.to_ts, msg::read_optional_i64(value));
        default: return store(spec.panels, panels_from_value(value));
    }
}

Read<OvraSpec> spec_from_object(std::span<const json::Member> members) {
    OvraSpec spec;
    bool seen[msg::kSpecFieldCount] = {};
    for (const json::Member& member : members) {
        for (std::size_t field = 0; field < msg::kSpecFieldCount; ++field) {
            if (member.key != kSpecKeys[field]) continue;
            if (auto stored = read_spec_field(spec, field, member.value); !stored) return fail(std::move(stored).error());
            seen[field] = true;
        }
    }
    for (std::size_t field = 0; field < msg::kSpecFieldCount; ++field) {
        if (kSpecFieldRequired[field] && !seen[field]) return fail(msg::missing_field(kSpecKeys[field]));
    }
    return spec;
}

// Elements are converted in order; a short array fails at the first absent
// required element, a long one only after all five fields have been read.
Read<OvraSpec> spec_from_array(std::span<const Value> items) {
    OvraSpec spec;
    for (std::size_t field = 0; field < msg::kSpecFieldCount; ++field) {
        if (field >= items.size()) {
            if (!kSpecFieldRequired[field]) continue;
            return fail(msg::spec_too_short(msg::spec_short_length_reported(items.size())));
        }
        if (auto stored = read_spec_field(spec, field, items[field]); !stored) return fail(std::move(stored).error());
    }
    if (items.size() > msg::kSpecFieldCount) return fail(msg::spec_too_long(items.size()));
    return spec;
}

}  // namespace

Result<OvraSpec, std::string> spec_from_json_value(const json::Value& value) {
    if (value.kind() == Kind::Object) return spec_from_object(value.as_object());
    if (value.kind() == Kind::Array) return spec_from_array(value.as_array());
    return fail(msg::invalid_type(value, msg::kExpectSpec));
}

}  // namespace ovra
