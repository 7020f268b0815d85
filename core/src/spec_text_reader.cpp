// The text road of spec reading (the constructor): streams the stripped text
// in document order over the shared scanner, with serde-style "duplicate
// field" checks and " at line L column C" on every error. A conversion error
// is placed where the reader stands when the innermost enclosing value gives
// up, after that value's closing bracket has been looked for.
#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "json/scanner.h"
#include "json/value_grammar.h"
#include "spec_messages.h"
#include "spec_reader.h"

namespace ovra {

namespace {

using json::Kind;
using json::Scanner;
using json::SyntaxCode;
using json::Value;
namespace msg = spec_messages;

using msg::kSpecFieldRequired;
using msg::kSpecKeys;

// A panel member held back until the panel's kind is known: scalars keep
// their value (a string its own copy of the text), arrays and objects only
// their kind (they are checked in full when read, and can only be described
// as "sequence" or "map").
struct HeldValue {
    Value scalar;
    std::string text;

    Value view() const {
        return scalar.kind() == Kind::String ? Value::string(text.data(), text.size()) : scalar;
    }
};

struct HeldMember {
    std::string key;
    HeldValue value;
};

// A panel as read before conversion: its kind and the other members (object
// form) or elements after the kind (array form), in document order.
struct HeldPanel {
    std::size_t variant = 0;
    bool array_form = false;
    std::vector<HeldMember> members;
};

class SpecTextReader {
public:
    explicit SpecTextReader(std::string_view text) : scanner_(text) {}

    Result<OvraSpec, std::string> run() {
        OvraSpec spec;
        if (read_spec(spec)) {
            if (scanner_.skip_whitespace() == Scanner::kEnd) return spec;
            scanner_.fail_at_peek(SyntaxCode::TrailingCharacters);
        }
        return fail(scanner_.read_error().display());
    }

private:
    // A conversion error; its position comes from fix_position() on the way out.
    bool conversion_error(std::string message) { return scanner_.fail_custom(std::move(message)); }
    // A value of the wrong type at the position: described, then reported after
    // a scalar or before an array/object.
    bool wrong_type(int c, std::string_view what) {
        Value unexpected;
        if (!scanner_.read_unexpected(c, unexpected)) return false;
        return placed_error(msg::invalid_type(unexpected, what));
    }
    // A conversion error of the value just read, placed where the reader stands.
    bool placed_error(std::string message) {
        conversion_error(std::move(message));
        scanner_.fix_position();
        return false;
    }
    // Closes a container whatever happened inside it (the bracket is looked
    // for first), then places a pending conversion error there.
    bool close_seq(bool ok) { return closed(scanner_.end_seq() && ok); }
    bool close_map(bool ok) { return closed(scanner_.end_map() && ok); }
    bool closed(bool ok) {
        scanner_.leave_container();
        if (ok) return true;
        scanner_.fix_position();
        return false;
    }
    bool open_container() {
        if (!scanner_.enter_container()) return false;
        scanner_.eat();
        return true;
    }

    bool read_spec(OvraSpec& spec);
    bool read_spec_members(OvraSpec& spec);
    bool read_spec_elements(OvraSpec& spec);
    bool read_spec_field(OvraSpec& spec, std::size_t field);
    bool read_string(std::string& out);
    bool read_optional_i64(std::optional<std::int64_t>& out);
    bool read_panels(std::vector<OvraPanel>& panels);
    bool read_panel(OvraPanel& panel);
    bool read_panel_members(HeldPanel& held);
    bool read_panel_elements(HeldPanel& held);
    bool read_panel_kind(std::size_t& variant);
    bool hold_value(HeldValue& out);
    bool convert_panel(const HeldPanel& held, OvraPanel& panel);

    Scanner scanner_;
};

bool SpecTextReader::read_spec(OvraSpec& spec) {
    const int c = scanner_.skip_whitespace();
    if (c == Scanner::kEnd) return scanner_.fail_at_peek(SyntaxCode::EofWhileParsingValue);
    if (c == '{') return open_container() && close_map(read_spec_members(spec));
    if (c == '[') return open_container() && close_seq(read_spec_elements(spec));
    return wrong_type(c, msg::kExpectSpec);
}

bool SpecTextReader::read_spec_members(OvraSpec& spec) {
    std::array<bool, msg::kSpecFieldCount> seen{};
    bool first = true;
    for (;;) {
        std::string_view key;
        const auto step = scanner_.next_key(first, key);
        if (step == Scanner::Step::Failed) return false;
        if (step == Scanner::Step::End) break;
        std::size_t field = 0;
        while (field < kSpecKeys.size() && kSpecKeys[field] != key) ++field;
        if (field == kSpecKeys.size()) {
            // Unknown members are only scanned, whatever they hold.
            if (!scanner_.parse_colon() || !scanner_.skip_value()) return false;
            continue;
        }
        if (seen[field]) return conversion_error(msg::duplicate_field(kSpecKeys[field]));
        if (!scanner_.parse_colon() || !read_spec_field(spec, field)) return false;
        seen[field] = true;
    }
    for (std::size_t field = 0; field < kSpecKeys.size(); ++field) {
        if (kSpecFieldRequired[field] && !seen[field]) return conversion_error(msg::missing_field(kSpecKeys[field]));
    }
    return true;
}

// By position; the window elements may be missing, but only together with the
// panel list, which is then the one reported (as length 4).
bool SpecTextReader::read_spec_elements(OvraSpec& spec) {
    bool first = true;
    for (std::size_t field = 0; field < msg::kSpecFieldCount; ++field) {
        const auto step = scanner_.next_element(first);
        if (step == Scanner::Step::Failed) return false;
        if (step == Scanner::Step::End) {
            if (kSpecFieldRequired[field]) return conversion_error(msg::spec_too_short(field));
            continue;
        }
        if (!read_spec_field(spec, field)) return false;
    }
    return true;
}

bool SpecTextReader::read_spec_field(OvraSpec& spec, std::size_t field) {
    switch (field) {
        case 0: return read_string(spec.dataset_ref);
        case 1: return read_string(spec.symbol);
        case 2: return read_optional_i64(spec.from_ts);
        case 3: return read_optional_i64(spec.to_ts);
        default: return read_panels(spec.panels);
    }
}

bool SpecTextReader::read_string(std::string& out) {
    const int c = scanner_.skip_whitespace();
    if (c == Scanner::kEnd) return scanner_.fail_at_peek(SyntaxCode::EofWhileParsingValue);
    if (c != '"') return wrong_type(c, msg::kExpectString);
    scanner_.eat();
    std::string_view text;
    if (!scanner_.parse_string(text)) return false;
    out.assign(text);
    return true;
}

bool SpecTextReader::read_optional_i64(std::optional<std::int64_t>& out) {
    const int c = scanner_.skip_whitespace();
    if (c == 'n') {
        scanner_.eat();
        out.reset();
        return scanner_.parse_ident("ull");
    }
    if (c == Scanner::kEnd) return scanner_.fail_at_peek(SyntaxCode::EofWhileParsingValue);
    if (c != '-' && (c < '0' || c > '9')) return wrong_type(c, msg::kExpectI64);
    Value number;
    if (!scanner_.read_unexpected(c, number)) return false;
    auto converted = msg::read_i64(number);
    if (!converted) return placed_error(std::move(converted).error());
    out = converted.value();
    return true;
}

bool SpecTextReader::read_panels(std::vector<OvraPanel>& panels) {
    const int c = scanner_.skip_whitespace();
    if (c == Scanner::kEnd) return scanner_.fail_at_peek(SyntaxCode::EofWhileParsingValue);
    if (c != '[') return wrong_type(c, msg::kExpectSequence);
    if (!open_container()) return false;
    bool ok = true;
    bool first = true;
    for (;;) {
        const auto step = scanner_.next_element(first);
        if (step == Scanner::Step::End) break;
        OvraPanel panel = msg::default_panel(0);
        if (step == Scanner::Step::Failed || !read_panel(panel)) {
            ok = false;
            break;
        }
        panels.push_back(panel);
    }
    return close_seq(ok);
}

// The panel is read whole first (kind checked as soon as it is seen, other
// members held back), then converted; errors of the conversion are placed by
// the panel list around it.
bool SpecTextReader::read_panel(OvraPanel& panel) {
    const int c = scanner_.skip_whitespace();
    if (c == Scanner::kEnd) return scanner_.fail_at_peek(SyntaxCode::EofWhileParsingValue);
    HeldPanel held;
    bool read = false;
    if (c == '{') {
        read = open_container() && close_map(read_panel_members(held));
    } else if (c == '[') {
        held.array_form = true;
        read = open_container() && close_seq(read_panel_elements(held));
    } else {
        return wrong_type(c, msg::kExpectPanel);
    }
    return read && convert_panel(held, panel);
}

bool SpecTextReader::read_panel_members(HeldPanel& held) {
    bool have_kind = false;
    bool first = true;
    for (;;) {
        std::string_view key;
        const auto step = scanner_.next_key(first, key);
        if (step == Scanner::Step::Failed) return false;
        if (step == Scanner::Step::End) break;
        if (key == "kind") {
            if (have_kind) return conversion_error(msg::duplicate_field("kind"));
            if (!scanner_.parse_colon() || !read_panel_kind(held.variant)) return false;
            have_kind = true;
            continue;
        }
        HeldMember member;
        member.key.assign(key);
        if (!scanner_.parse_colon() || !hold_value(member.value)) return false;
        held.members.push_back(std::move(member));
    }
    if (!have_kind) return conversion_error(msg::missing_field("kind"));
    return true;
}

bool SpecTextReader::read_panel_elements(HeldPanel& held) {
    bool first = true;
    auto step = scanner_.next_element(first);
    if (step == Scanner::Step::Failed) return false;
    if (step == Scanner::Step::End) return conversion_error(msg::missing_field("kind"));
    if (!read_panel_kind(held.variant)) return false;
    for (;;) {
        step = scanner_.next_element(first);
        if (step == Scanner::Step::Failed) return false;
        if (step == Scanner::Step::End) return true;
        HeldMember member;
        if (!hold_value(member.value)) return false;
        held.members.push_back(std::move(member));
    }
}

bool SpecTextReader::read_panel_kind(std::size_t& variant) {
    const int c = scanner_.skip_whitespace();
    if (c == Scanner::kEnd) return scanner_.fail_at_peek(SyntaxCode::EofWhileParsingValue);
    if (c != '"') return wrong_type(c, msg::kExpectVariant);
    Value word;
    if (!scanner_.read_unexpected(c, word)) return false;
    auto kind = msg::panel_kind(word);
    if (!kind) return placed_error(std::move(kind).error());
    variant = kind.value();
    return true;
}

// Held values are read in full, as if kept: bad escapes, lone surrogates and
// out-of-range numbers fail here even inside members no variant has.
bool SpecTextReader::hold_value(HeldValue& out) {
    const int c = scanner_.skip_whitespace();
    if (c == '[' || c == '{') {
        out.scalar = c == '[' ? Value::array(nullptr, 0) : Value::object(nullptr, 0);
        return json::check_value(scanner_);
    }
    if (c == Scanner::kEnd) return scanner_.fail_at_peek(SyntaxCode::EofWhileParsingValue);
    if (!scanner_.read_unexpected(c, out.scalar)) return false;
    if (out.scalar.kind() == Kind::String) out.text.assign(out.scalar.as_string());
    return true;
}

// Object form: fields in document order, a repeated field key is an error,
// other keys are ignored. Array form: fields by position, then the length.
bool SpecTextReader::convert_panel(const HeldPanel& held, OvraPanel& panel) {
    panel = msg::default_panel(held.variant);
    const std::size_t field_count = msg::panel_field_count(held.variant);
    if (held.array_form) {
        const std::size_t given = held.members.size();
        for (std::size_t field = 0; field < given && field < field_count; ++field) {
            auto stored = msg::read_panel_field(panel, field, held.members[field].value.view());
            if (!stored) return conversion_error(std::move(stored).error());
        }
        if (given > field_count) return conversion_error(msg::panel_too_long(given, field_count));
        return true;
    }
    std::array<bool, 3> seen{};
    for (const HeldMember& member : held.members) {
        const auto field = msg::panel_field_position(held.variant, member.key);
        if (!field) continue;
        if (seen[*field]) return conversion_error(msg::duplicate_field(member.key));
        auto stored = msg::read_panel_field(panel, *field, member.value.view());
        if (!stored) return conversion_error(std::move(stored).error());
        seen[*field] = true;
    }
    return true;
}

}  // namespace

Result<OvraSpec, std::string> spec_from_json_text(std::string_view text) { return SpecTextReader(text).run(); }

}  // namespace ovra
