// The cursor's slow steps, done by the shared scanner from the cursor's
// position: unusual numbers, escaped strings and skipped values.
#include "load/direct_cursor.h"

#include "json/value_grammar.h"

namespace ovra::load {

bool Cursor::scanner_number(json::Number& out) noexcept {
    scanner_.resume_at(offset(), open_);
    const bool positive = scanner_.peek() != '-';
    if (!positive) scanner_.eat();
    try {
        if (!scanner_.parse_number(positive, out) || scanner_.failed()) return false;
    } catch (...) {
        return false;  // no room for the message of a refused number
    }
    p_ = begin_ + scanner_.index();
    return true;
}

bool Cursor::scanner_string(std::string_view& out) noexcept {
    scanner_.resume_at(offset() + 1, open_);
    try {
        if (!scanner_.parse_string(out) || scanner_.failed()) return false;
    } catch (...) {
        return false;  // no room for the decoded text
    }
    p_ = begin_ + scanner_.index();
    return true;
}

bool Cursor::general_f64(double& out) noexcept {
    json::Number n;
    if (!number(n)) return false;
    out = n.kind == json::Kind::Float    ? n.f
          : n.kind == json::Kind::PosInt ? static_cast<double>(n.u)
                                         : static_cast<double>(n.i);
    return true;
}

bool Cursor::general_i64(std::int64_t& out) noexcept {
    json::Number n;
    if (!number(n)) return false;
    if (n.kind == json::Kind::NegInt) {
        out = n.i;
        return true;
    }
    if (n.kind != json::Kind::PosInt || n.u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return false;
    out = static_cast<std::int64_t>(n.u);
    return true;
}

bool Cursor::skip_value() noexcept {
    scanner_.resume_at(offset(), open_);
    try {
        // The tree road parses every value of the text, so a skipped one must
        // pass the same checks (number range, surrogates, depth).
        if (!json::check_value(scanner_) || scanner_.failed()) return false;
    } catch (...) {
        return false;
    }
    p_ = begin_ + scanner_.index();
    return true;
}

}  // namespace ovra::load
