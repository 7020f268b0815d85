// Scanner failures, positions, identifiers and strings (parsed and skipped).
#include "json/scanner.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "json/utf8.h"

namespace ovra::json {

namespace {

// Bytes that end the plain run of a string: quote, backslash, control bytes.
constexpr std::array<bool, 256> make_string_stop_table() {
    std::array<bool, 256> table{};
    for (std::size_t c = 0; c < 0x20; ++c) table[c] = true;
    table['"'] = true;
    table['\\'] = true;
    return table;
}
constexpr auto kStringStop = make_string_stop_table();

int hex_value(unsigned char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

void locate(std::string_view text, std::size_t offset, std::size_t& line, std::size_t& column) noexcept {
    offset = std::min(offset, text.size());
    line = 1;
    std::size_t line_start = 0;
    for (std::size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++line;
            line_start = i + 1;
        }
    }
    column = offset - line_start;
}

bool Scanner::fail_positioned(std::string message, std::size_t offset) {
    if (!failed_) {
        failed_ = true;
        placed_ = true;
        failure_offset_ = offset;
        failure_message_ = std::move(message);
    }
    return false;
}

bool Scanner::fail_at_index(SyntaxCode code) { return fail_positioned(syntax_message(code), index_); }

bool Scanner::fail_at_peek(SyntaxCode code) {
    return fail_positioned(syntax_message(code), std::min(index_ + 1, size_));
}

bool Scanner::fail_custom(std::string message) {
    if (!failed_) {
        failed_ = true;
        placed_ = false;
        failure_message_ = std::move(message);
    }
    return false;
}

void Scanner::fix_position() noexcept {
    if (failed_ && !placed_) {
        placed_ = true;
        failure_offset_ = index_;
    }
}

ReadError Scanner::read_error() const {
    ReadError error;
    error.message = failure_message_;
    locate(text(), placed_ ? failure_offset_ : index_, error.line, error.column);
    return error;
}

bool Scanner::parse_ident(std::string_view rest) {
    for (char expected : rest) {
        if (index_ == size_) return fail_at_index(SyntaxCode::EofWhileParsingValue);
        if (data_[index_++] != expected) return fail_at_index(SyntaxCode::ExpectedSomeIdent);
    }
    return true;
}

bool Scanner::parse_string(std::string_view& out) {
    std::size_t start = index_;
    bool copied = false;
    for (;;) {
        while (index_ < size_ && !kStringStop[static_cast<unsigned char>(data_[index_])]) ++index_;
        if (index_ == size_) return fail_at_index(SyntaxCode::EofWhileParsingString);
        const char c = data_[index_];
        if (c == '"') {
            if (!copied) {
                out = std::string_view(data_ + start, index_ - start);
            } else {
                scratch_.append(data_ + start, index_ - start);
                out = scratch_;
            }
            ++index_;
            return true;
        }
        if (c == '\\') {
            if (!copied) {
                scratch_.clear();
                copied = true;
            }
            scratch_.append(data_ + start, index_ - start);
            ++index_;
            if (!parse_escape()) return false;
            start = index_;
            continue;
        }
        ++index_;
        return fail_at_index(SyntaxCode::ControlCharacterWhileParsingString);
    }
}

bool Scanner::decode_hex_escape(std::uint32_t& out) {
    if (size_ - index_ < 4) {
        index_ = size_;
        return fail_at_index(SyntaxCode::EofWhileParsingString);
    }
    std::uint32_t n = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hex_value(static_cast<unsigned char>(data_[index_]));
        ++index_;
        if (digit < 0) return fail_at_index(SyntaxCode::InvalidEscape);
        n = (n << 4) | static_cast<std::uint32_t>(digit);
    }
    out = n;
    return true;
}

// Decodes one escape after its backslash into scratch_.
bool Scanner::parse_escape() {
    if (index_ == size_) return fail_at_index(SyntaxCode::EofWhileParsingString);
    const char c = data_[index_++];
    switch (c) {
        case '"': scratch_.push_back('"'); return true;
        case '\\': scratch_.push_back('\\'); return true;
        case '/': scratch_.push_back('/'); return true;
        case 'b': scratch_.push_back('\b'); return true;
        case 'f': scratch_.push_back('\f'); return true;
        case 'n': scratch_.push_back('\n'); return true;
        case 'r': scratch_.push_back('\r'); return true;
        case 't': scratch_.push_back('\t'); return true;
        case 'u': break;
        default: return fail_at_index(SyntaxCode::InvalidEscape);
    }
    std::uint32_t first = 0;
    if (!decode_hex_escape(first)) return false;
    if (first >= 0xDC00 && first <= 0xDFFF) return fail_at_index(SyntaxCode::LoneLeadingSurrogateInHexEscape);
    if (first < 0xD800 || first > 0xDBFF) {
        append_utf8(scratch_, first);
        return true;
    }
    // A leading surrogate must be followed at once by a \u trailing one.
    for (char expected : {'\\', 'u'}) {
        if (index_ == size_) return fail_at_index(SyntaxCode::EofWhileParsingString);
        if (data_[index_++] != expected) return fail_at_index(SyntaxCode::UnexpectedEndOfHexEscape);
    }
    std::uint32_t second = 0;
    if (!decode_hex_escape(second)) return false;
    if (second < 0xDC00 || second > 0xDFFF) return fail_at_index(SyntaxCode::LoneLeadingSurrogateInHexEscape);
    append_utf8(scratch_, (((first - 0xD800) << 10) | (second - 0xDC00)) + 0x10000);
    return true;
}

bool Scanner::skip_escape() {
    if (index_ == size_) return fail_at_index(SyntaxCode::EofWhileParsingString);
    switch (data_[index_++]) {
        case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't': return true;
        case 'u': {
            std::uint32_t ignored = 0;
            return decode_hex_escape(ignored);
        }
        default: return fail_at_index(SyntaxCode::InvalidEscape);
    }
}

bool Scanner::skip_string() {
    for (;;) {
        while (index_ < size_ && !kStringStop[static_cast<unsigned char>(data_[index_])]) ++index_;
        if (index_ == size_) return fail_at_index(SyntaxCode::EofWhileParsingString);
        const char c = data_[index_];
        if (c == '"') {
            ++index_;
            return true;
        }
        if (c != '\\') return fail_at_index(SyntaxCode::ControlCharacterWhileParsingString);
        ++index_;
        if (!skip_escape()) return false;
    }
}

Scanner::Step Scanner::next_element(bool& first) {
    int c = skip_whitespace();
    if (c == ']') return Step::End;
    if (c == ',' && !first) {
        eat();
        c = skip_whitespace();
        if (c == ']') return fail_at_peek(SyntaxCode::TrailingComma), Step::Failed;
        if (c == kEnd) return fail_at_peek(SyntaxCode::EofWhileParsingValue), Step::Failed;
        return Step::Item;
    }
    if (c == kEnd) return fail_at_peek(SyntaxCode::EofWhileParsingList), Step::Failed;
    if (!first) return fail_at_peek(SyntaxCode::ExpectedListCommaOrEnd), Step::Failed;
    first = false;
    return Step::Item;
}

Scanner::Step Scanner::next_key(bool& first, std::string_view& key) {
    int c = skip_whitespace();
    if (c == '}') return Step::End;
    if (c == ',' && !first) {
        eat();
        c = skip_whitespace();
    } else if (c == kEnd) {
        return fail_at_peek(SyntaxCode::EofWhileParsingObject), Step::Failed;
    } else if (!first) {
        return fail_at_peek(SyntaxCode::ExpectedObjectCommaOrEnd), Step::Failed;
    }
    first = false;
    if (c != '"') {
        fail_at_peek(c == '}'    ? SyntaxCode::TrailingComma
                     : c == kEnd ? SyntaxCode::EofWhileParsingValue
                                 : SyntaxCode::KeyMustBeAString);
        return Step::Failed;
    }
    eat();
    return parse_string(key) ? Step::Item : Step::Failed;
}

bool Scanner::parse_colon() {
    const int c = skip_whitespace();
    if (c == ':') {
        eat();
        return true;
    }
    return fail_at_peek(c == kEnd ? SyntaxCode::EofWhileParsingObject : SyntaxCode::ExpectedColon);
}

bool Scanner::end_seq() {
    const int c = skip_whitespace();
    if (c == ']') {
        eat();
        return true;
    }
    if (c == ',') {
        eat();
        return fail_at_peek(skip_whitespace() == ']' ? SyntaxCode::TrailingComma : SyntaxCode::TrailingCharacters);
    }
    return fail_at_peek(c == kEnd ? SyntaxCode::EofWhileParsingList : SyntaxCode::TrailingCharacters);
}

bool Scanner::end_map() {
    const int c = skip_whitespace();
    if (c == '}') {
        eat();
        return true;
    }
    return fail_at_peek(c == ','    ? SyntaxCode::TrailingComma
                        : c == kEnd ? SyntaxCode::EofWhileParsingObject
                                    : SyntaxCode::TrailingCharacters);
}

bool Scanner::read_unexpected(int c, Value& out) {
    switch (c) {
        case 'n': eat(); out = Value::null(); return parse_ident("ull");
        case 't': eat(); out = Value::boolean(true); return parse_ident("rue");
        case 'f': eat(); out = Value::boolean(false); return parse_ident("alse");
        case '"': {
            eat();
            std::string_view text;
            if (!parse_string(text)) return false;
            out = Value::string(text.data(), text.size());
            return true;
        }
        case '[': out = Value::array(nullptr, 0); return true;
        case '{': out = Value::object(nullptr, 0); return true;
        default: break;
    }
    if (c != '-' && (c < '0' || c > '9')) return fail_at_peek(SyntaxCode::ExpectedSomeValue);
    const bool positive = c != '-';
    if (!positive) eat();
    Number number;
    if (!parse_number(positive, number)) return false;
    out = number.value();
    return true;
}

bool Scanner::skip_value() {
    const int c = skip_whitespace();
    switch (c) {
        case kEnd: return fail_at_peek(SyntaxCode::EofWhileParsingValue);
        case 'n': eat(); return parse_ident("ull");
        case 't': eat(); return parse_ident("rue");
        case 'f': eat(); return parse_ident("alse");
        case '-': eat(); return skip_number();
        case '"': eat(); return skip_string();
        case '[': return skip_array();
        case '{': return skip_object();
        default:
            if (c >= '0' && c <= '9') return skip_number();
            return fail_at_peek(SyntaxCode::ExpectedSomeValue);
    }
}

bool Scanner::skip_array() {
    if (!enter_container()) return false;
    eat();
    int c = skip_whitespace();
    if (c == kEnd) return fail_at_peek(SyntaxCode::EofWhileParsingList);
    if (c != ']') {
        for (;;) {
            if (!skip_value()) return false;
            c = skip_whitespace();
            if (c == ',') {
                eat();
                continue;
            }
            if (c == ']') break;
            return fail_at_peek(c == kEnd ? SyntaxCode::EofWhileParsingList : SyntaxCode::ExpectedListCommaOrEnd);
        }
    }
    eat();
    leave_container();
    return true;
}

bool Scanner::skip_object() {
    if (!enter_container()) return false;
    eat();
    int c = skip_whitespace();
    if (c != '}') {
        for (;;) {
            if (c == kEnd) return fail_at_peek(SyntaxCode::EofWhileParsingObject);
            if (c != '"') return fail_at_peek(SyntaxCode::KeyMustBeAString);
            eat();
            if (!skip_string()) return false;
            c = skip_whitespace();
            if (c == kEnd) return fail_at_peek(SyntaxCode::EofWhileParsingObject);
            if (c != ':') return fail_at_peek(SyntaxCode::ExpectedColon);
            eat();
            if (!skip_value()) return false;
            c = skip_whitespace();
            if (c == ',') {
                eat();
                c = skip_whitespace();
                continue;
            }
            if (c == '}') break;
            return fail_at_peek(c == kEnd ? SyntaxCode::EofWhileParsingObject : SyntaxCode::ExpectedObjectCommaOrEnd);
        }
    }
    eat();
    leave_container();
    return true;
}

}  // namespace ovra::json
