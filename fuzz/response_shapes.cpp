// Shape checks of every response kind; the frame is checked panel by panel
// with the written order of its members and the layout of its numbers.
#include "response_shapes.h"

#include <charconv>
#include <initializer_list>
#include <optional>

#include "json_check.h"

namespace ovra_fuzz {

namespace {

using Type = JsonNode::Type;

bool all_digits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

std::optional<std::uint64_t> read_unsigned(const JsonNode& node) {
    if (node.type != Type::Number || node.text.empty() || node.text[0] == '-' || !is_integer_token(node.text)) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(node.text.data(), node.text.data() + node.text.size(), value);
    if (ec != std::errc() || end != node.text.data() + node.text.size()) return std::nullopt;
    return value;
}

std::optional<std::int64_t> read_signed(const JsonNode& node) {
    if (node.type != Type::Number || !is_integer_token(node.text)) return std::nullopt;
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(node.text.data(), node.text.data() + node.text.size(), value);
    if (ec != std::errc() || end != node.text.data() + node.text.size()) return std::nullopt;
    return value;
}

bool is_float(const JsonNode& node) {
    return node.type == Type::Null || (node.type == Type::Number && is_float_token(node.text));
}

// The members of an object, exactly these keys in exactly this order.
bool has_members(const JsonNode& node, std::initializer_list<std::string_view> keys) {
    if (node.type != Type::Object || node.members.size() != keys.size()) return false;
    std::size_t i = 0;
    for (std::string_view key : keys) {
        if (node.members[i++].key != key) return false;
    }
    return true;
}

bool float_list(const JsonNode& node) {
    if (node.type != Type::Array) return false;
    for (const auto& item : node.items) {
        if (!is_float(item)) return false;
    }
    return true;
}

bool int_list(const JsonNode& node) {
    if (node.type != Type::Array) return false;
    for (const auto& item : node.items) {
        if (!read_signed(item)) return false;
    }
    return true;
}

bool same_lengths(const JsonNode& node, std::initializer_list<std::size_t> members) {
    const std::size_t first = node.members[*members.begin()].value.items.size();
    for (std::size_t m : members) {
        if (node.members[m].value.items.size() != first) return false;
    }
    return true;
}

bool footprint(const JsonNode& p) {
    return has_members(p, {"kind", "price_bins", "buy_vol", "sell_vol"}) && float_list(p.members[1].value) &&
           float_list(p.members[2].value) && float_list(p.members[3].value) && same_lengths(p, {1, 2, 3});
}

bool book_heatmap(const JsonNode& p) {
    if (!has_members(p, {"kind", "time", "price", "intensity"})) return false;
    const JsonNode& rows = p.members[3].value;
    if (!int_list(p.members[1].value) || !float_list(p.members[2].value) || rows.type != Type::Array) return false;
    if (rows.items.size() != p.members[1].value.items.size()) return false;
    for (const auto& row : rows.items) {
        if (!float_list(row)) return false;
    }
    return true;
}

bool liquidation_map(const JsonNode& p) {
    if (!has_members(p, {"kind", "events"}) || p.members[1].value.type != Type::Array) return false;
    for (const auto& event : p.members[1].value.items) {
        if (!has_members(event, {"ts", "price_bin", "qty", "side"})) return false;
        const JsonNode& side = event.members[3].value;
        if (!read_signed(event.members[0].value) || !is_float(event.members[1].value) ||
            !is_float(event.members[2].value) || side.type != Type::String ||
            (side.text != "long" && side.text != "short")) {
            return false;
        }
    }
    return true;
}

bool funding_oi_divergence(const JsonNode& p) {
    return has_members(p, {"kind", "time", "funding", "oi", "price"}) && int_list(p.members[1].value) &&
           float_list(p.members[2].value) && float_list(p.members[3].value) && float_list(p.members[4].value) &&
           same_lengths(p, {1, 2, 3, 4});
}

bool panel(const JsonNode& p) {
    if (p.type != Type::Object || p.members.empty() || p.members[0].key != "kind") return false;
    const JsonNode& kind = p.members[0].value;
    if (kind.type != Type::String) return false;
    if (kind.text == "footprint") return footprint(p);
    if (kind.text == "book_heatmap") return book_heatmap(p);
    if (kind.text == "liquidation_map") return liquidation_map(p);
    if (kind.text == "funding_oi_divergence") return funding_oi_divergence(p);
    return false;
}

bool frame(const JsonNode& root, Response& out, std::string& why) {
    const auto cursor = read_signed(root.members[1].value);
    if (root.members[0].value.type != Type::String || !cursor) {
        why = "frame: symbol or cursor_ts of the wrong type";
        return false;
    }
    const JsonNode& panels = root.members[2].value;
    if (panels.type != Type::Array || panels.items.empty()) {
        why = "frame: panels is not a non-empty list";
        return false;
    }
    for (const auto& p : panels.items) {
        if (!panel(p)) {
            why = "frame: a panel does not fit its kind's shape";
            return false;
        }
    }
    out.shape = Shape::Frame;
    out.cursor_ts = *cursor;
    out.cursor_known = true;
    return true;
}

// A frame of many megabytes (a grid near its limit) would cost the tree
// reader gigabytes; it gets the cheap checks only.
constexpr std::size_t kDeepCheckLimit = 4u << 20;

bool large_frame(std::string_view text, bool require_utf8, Response& out, std::string& why) {
    if (!text.starts_with(R"({"symbol":")") || !text.ends_with("]}") || (require_utf8 && !is_valid_utf8(text))) {
        why = "large response that is not a frame";
        return false;
    }
    out.shape = Shape::Frame;
    out.cursor_known = false;
    return true;
}

bool error_envelope(const JsonNode& root, Response& out, std::string& why) {
    const JsonNode& ok = root.members[0].value;
    const JsonNode& text = root.members[1].value;
    if (ok.type != Type::Bool || ok.boolean || text.type != Type::String) {
        why = "error envelope with wrong member types";
        return false;
    }
    const std::string_view message = text.text;
    if (!message.starts_with("parse: ") && !message.starts_with("bad spec: ") && !message.starts_with("data: ")) {
        why = "error text without a known kind prefix";
        return false;
    }
    out.shape = Shape::Error;
    out.error = text.text;
    return true;
}

bool bounds(const JsonNode& root, Response& out, std::string& why) {
    const auto from = read_signed(root.members[0].value);
    const auto to = read_signed(root.members[1].value);
    const auto count = read_unsigned(root.members[2].value);
    if (!from || !to || !count || *count == 0 || *from > *to) {
        why = "bounds with bad members (types, count 0, or from_ts > to_ts)";
        return false;
    }
    out.shape = Shape::Bounds;
    out.from_ts = *from;
    out.to_ts = *to;
    out.count = *count;
    return true;
}

}  // namespace

const char* shape_name(Shape shape) {
    switch (shape) {
        case Shape::Ack: return "ack";
        case Shape::Loaded: return "loaded";
        case Shape::Bounds: return "bounds";
        case Shape::Version: return "version";
        case Shape::Frame: return "frame";
        case Shape::Error: return "error";
    }
    return "?";
}

bool is_integer_token(std::string_view token) {
    if (token.starts_with('-')) token.remove_prefix(1);
    if (!all_digits(token)) return false;
    return token == "0" || token[0] != '0';
}

// Shortest round-trip digits laid out in full for decimal exponents -5..15
// (always with a '.'), in exponent form with an explicit sign otherwise.
bool is_float_token(std::string_view token) {
    if (token.starts_with('-')) token.remove_prefix(1);
    const std::size_t e = token.find('e');
    if (e != std::string_view::npos) {
        const std::string_view mantissa = token.substr(0, e);
        std::string_view exponent = token.substr(e + 1);
        if (mantissa.empty() || mantissa[0] < '1' || mantissa[0] > '9') return false;
        if (mantissa.size() > 1) {
            const std::string_view fraction = mantissa.substr(1);
            if (fraction[0] != '.' || fraction.size() < 2 || !all_digits(fraction.substr(1)) || fraction.back() == '0') {
                return false;
            }
            if (fraction.size() - 1 > 16) return false;
        }
        if (exponent.empty() || (exponent[0] != '+' && exponent[0] != '-')) return false;
        const bool negative = exponent[0] == '-';
        exponent.remove_prefix(1);
        if (!all_digits(exponent) || exponent[0] == '0' || exponent.size() > 3) return false;
        int magnitude = 0;
        std::from_chars(exponent.data(), exponent.data() + exponent.size(), magnitude);
        return negative ? (magnitude > 5 && magnitude <= 324) : (magnitude > 15 && magnitude <= 308);
    }
    const std::size_t dot = token.find('.');
    if (dot == std::string_view::npos) return false;
    const std::string_view whole = token.substr(0, dot);
    const std::string_view fraction = token.substr(dot + 1);
    if (!is_integer_token(whole) || !all_digits(fraction)) return false;
    if (fraction != "0" && fraction.back() == '0') return false;
    if (whole != "0") {
        // Decimal exponent whole.size() - 1 must stay within 15; at most 17 significant digits.
        std::size_t significant = whole.size() + (fraction == "0" ? 0 : fraction.size());
        if (fraction == "0") {
            std::string_view trimmed = whole;
            while (trimmed.size() > 1 && trimmed.back() == '0') trimmed.remove_suffix(1);
            significant = trimmed.size();
        }
        return whole.size() <= 16 && significant <= 17;
    }
    if (fraction == "0") return true;  // zero
    const std::size_t zeros = fraction.find_first_not_of('0');
    return zeros <= 4 && fraction.size() - zeros <= 17;
}

bool classify_response(std::string_view text, bool require_utf8, Response& out, std::string& why) {
    if (text.size() > kDeepCheckLimit) return large_frame(text, require_utf8, out, why);
    JsonCheckOptions options;
    options.require_utf8 = require_utf8;
    const auto parsed = parse_strict(text, options);
    if (!parsed) {
        why = require_utf8 ? "not compact, valid UTF-8 JSON" : "not compact JSON";
        return false;
    }
    const JsonNode& root = *parsed;
    if (has_members(root, {"ok"})) {
        if (root.members[0].value.type != Type::Bool || !root.members[0].value.boolean) {
            why = "plain acknowledgement without ok=true";
            return false;
        }
        out.shape = Shape::Ack;
        return true;
    }
    if (has_members(root, {"ok", "loaded"})) {
        const auto loaded = read_unsigned(root.members[1].value);
        if (root.members[0].value.type != Type::Bool || !root.members[0].value.boolean || !loaded) {
            why = "load acknowledgement with bad members";
            return false;
        }
        out.shape = Shape::Loaded;
        out.loaded = *loaded;
        return true;
    }
    if (has_members(root, {"ok", "error"})) return error_envelope(root, out, why);
    if (has_members(root, {"from_ts", "to_ts", "count"})) return bounds(root, out, why);
    if (has_members(root, {"version"})) {
        if (text != R"({"version":"0.1.6"})") {
            why = "version object with another text";
            return false;
        }
        out.shape = Shape::Version;
        return true;
    }
    if (has_members(root, {"symbol", "cursor_ts", "panels"})) return frame(root, out, why);
    why = "no documented response shape";
    return false;
}

}  // namespace ovra_fuzz
