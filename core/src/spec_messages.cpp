// serde-style message texts of spec reading and the scalar field conversions
// that both spec roads share.
#include "spec_messages.h"

#include <limits>
#include <span>
#include <variant>

#include "dataset_fields.h"

namespace ovra::spec_messages {

using json::Kind;
using json::Value;

std::string spec_too_short(std::size_t n) { return json::invalid_length(n, "struct OvraSpec with 5 elements"); }

std::string spec_too_long(std::size_t n) { return json::too_many_elements(n); }

std::string panel_too_long(std::size_t n, std::size_t m) {
    return json::invalid_length(n, std::to_string(m) + (m == 1 ? " element in sequence" : " elements in sequence"));
}

std::string duplicate_field(std::string_view name) { return "duplicate field `" + std::string(name) + "`"; }

std::string unknown_panel_variant(std::string_view word) {
    return "unknown variant `" + std::string(word) +
           "`, expected one of `footprint`, `book_heatmap`, `liquidation_map`, `funding_oi_divergence`";
}

std::size_t spec_short_length_reported(std::size_t n) { return n < 2 ? n : 4; }

Result<std::size_t, std::string> panel_kind(const Value& kind) {
    if (kind.kind() != Kind::String) return fail(invalid_type(kind, kExpectVariant));
    const std::string_view word = kind.as_string();
    for (std::size_t index = 0; index < std::variant_size_v<decltype(OvraPanel::config)>; ++index) {
        if (word == panel_kind_name(index)) return index;
    }
    return fail(unknown_panel_variant(word));
}

namespace {

// Field keys per variant, in declaration order.
constexpr std::string_view kFootprintKeys[] = {"price_bin", "bucket_ms"};
constexpr std::string_view kBookHeatmapKeys[] = {"price_bin", "bucket_ms", "depth_levels"};
constexpr std::string_view kLiquidationMapKeys[] = {"price_bin"};
constexpr std::string_view kFundingKeys[] = {"bucket_ms"};

std::span<const std::string_view> field_keys(std::size_t variant_index) noexcept {
    switch (variant_index) {
        case 0: return kFootprintKeys;
        case 1: return kBookHeatmapKeys;
        case 2: return kLiquidationMapKeys;
        case 3: return kFundingKeys;
        default: return {};
    }
}

}  // namespace

std::size_t panel_field_count(std::size_t variant_index) noexcept { return field_keys(variant_index).size(); }

std::optional<std::size_t> panel_field_position(std::size_t variant_index, std::string_view key) noexcept {
    const auto keys = field_keys(variant_index);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i] == key) return i;
    }
    return std::nullopt;
}

OvraPanel default_panel(std::size_t variant_index) {
    switch (variant_index) {
        case 1: return OvraPanel{OvraPanel::BookHeatmap{}};
        case 2: return OvraPanel{OvraPanel::LiquidationMap{}};
        case 3: return OvraPanel{OvraPanel::FundingOiDivergence{}};
        default: return OvraPanel{OvraPanel::Footprint{}};
    }
}

Result<Ok, std::string> read_panel_field(OvraPanel& panel, std::size_t field, const Value& value) {
    struct Reader {
        std::size_t field;
        const Value& value;
        Result<Ok, std::string> operator()(OvraPanel::Footprint& p) const {
            return field == 0 ? store(p.price_bin, read_f64(value)) : store(p.bucket_ms, read_i64(value));
        }
        Result<Ok, std::string> operator()(OvraPanel::BookHeatmap& p) const {
            if (field == 0) return store(p.price_bin, read_f64(value));
            if (field == 1) return store(p.bucket_ms, read_i64(value));
            return store(p.depth_levels, read_u32(value));
        }
        Result<Ok, std::string> operator()(OvraPanel::LiquidationMap& p) const {
            return store(p.price_bin, read_f64(value));
        }
        Result<Ok, std::string> operator()(OvraPanel::FundingOiDivergence& p) const {
            return store(p.bucket_ms, read_i64(value));
        }
    };
    return std::visit(Reader{field, value}, panel.config);
}

Result<std::string, std::string> read_string(const Value& value) {
    if (value.kind() != Kind::String) return fail(invalid_type(value, kExpectString));
    return std::string(value.as_string());
}

// The record timestamp's conversion: same range, same messages.
Result<std::int64_t, std::string> read_i64(const Value& value) {
    std::int64_t out = 0;
    if (auto read = ovra::read_ts(value, out); !read) return fail(std::move(read).error());
    return out;
}

Result<std::optional<std::int64_t>, std::string> read_optional_i64(const Value& value) {
    if (value.is_null()) return std::optional<std::int64_t>{};
    auto converted = read_i64(value);
    if (!converted) return fail(std::move(converted).error());
    return std::optional<std::int64_t>{converted.value()};
}

Result<std::uint32_t, std::string> read_u32(const Value& value) {
    switch (value.kind()) {
        case Kind::NegInt: return fail(invalid_value(value, kExpectU32));
        case Kind::PosInt:
            if (value.as_pos_int() > std::numeric_limits<std::uint32_t>::max()) {
                return fail(invalid_value(value, kExpectU32));
            }
            return static_cast<std::uint32_t>(value.as_pos_int());
        default: return fail(invalid_type(value, kExpectU32));
    }
}

// The record fields' conversion: same rounding, same messages.
Result<double, std::string> read_f64(const Value& value) {
    double out = 0.0;
    if (auto read = ovra::read_f64(value, out); !read) return fail(std::move(read).error());
    return out;
}

}  // namespace ovra::spec_messages
