// Number scanning: the syntax walk decides the kind and where an error is
// reported; the value of a float comes from std::from_chars over the whole
// literal, so every float is the nearest double.
#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>

#include "json/scanner.h"

namespace ovra::json {

namespace {

bool is_digit(int c) noexcept { return c >= '0' && c <= '9'; }

// Decimal order of magnitude of a literal that from_chars found out of range:
// positive means too large (overflow), otherwise too small (underflow to zero).
bool literal_overflows(std::string_view literal) noexcept {
    std::size_t i = 0;
    if (i < literal.size() && literal[i] == '-') ++i;
    std::int64_t magnitude = 0;
    bool seen_nonzero = false;
    bool in_fraction = false;
    for (; i < literal.size(); ++i) {
        const char c = literal[i];
        if (c == '.') {
            in_fraction = true;
            continue;
        }
        if (c == 'e' || c == 'E') break;
        if (!seen_nonzero) {
            if (c != '0') {
                seen_nonzero = true;
                if (!in_fraction) magnitude = 1;
            } else if (in_fraction) {
                --magnitude;
            }
        } else if (!in_fraction && magnitude < (std::int64_t{1} << 40)) {
            ++magnitude;
        }
    }
    if (!seen_nonzero) return false;
    std::int64_t exponent = 0;
    bool negative_exponent = false;
    if (i < literal.size()) {
        ++i;
        if (i < literal.size() && (literal[i] == '+' || literal[i] == '-')) negative_exponent = literal[i++] == '-';
        for (; i < literal.size() && exponent < (std::int64_t{1} << 40); ++i) exponent = exponent * 10 + (literal[i] - '0');
    }
    return (negative_exponent ? magnitude - exponent : magnitude + exponent) > 0;
}

}  // namespace

bool Scanner::parse_number(bool positive, Number& out) {
    const std::size_t start = positive ? index_ : index_ - 1;
    if (index_ == size_) return fail_at_index(SyntaxCode::EofWhileParsingValue);
    const int first = static_cast<unsigned char>(data_[index_++]);
    std::uint64_t significand = 0;
    bool integer_overflow = false;
    bool all_zero = true;  // every digit of integer and fraction is 0
    if (first == '0') {
        if (is_digit(peek())) return fail_at_peek(SyntaxCode::InvalidNumber);
    } else if (is_digit(first)) {
        all_zero = false;
        significand = static_cast<std::uint64_t>(first - '0');
        for (int c = peek(); is_digit(c); c = peek()) {
            const auto digit = static_cast<std::uint64_t>(c - '0');
            if (!integer_overflow && significand > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
                integer_overflow = true;
            }
            if (!integer_overflow) significand = significand * 10 + digit;
            eat();
        }
    } else {
        return fail_at_index(SyntaxCode::InvalidNumber);
    }
    bool is_float = integer_overflow;
    if (peek() == '.') {
        eat();
        std::size_t digits = 0;
        for (int c = peek(); is_digit(c); c = peek(), ++digits) {
            if (c != '0') all_zero = false;
            eat();
        }
        if (digits == 0) {
            return fail_at_peek(index_ == size_ ? SyntaxCode::EofWhileParsingValue : SyntaxCode::InvalidNumber);
        }
        is_float = true;
    }
    if (const int e = peek(); e == 'e' || e == 'E') {
        eat();
        bool positive_exponent = true;
        if (const int sign = peek(); sign == '+' || sign == '-') {
            positive_exponent = sign == '+';
            eat();
        }
        if (index_ == size_) return fail_at_index(SyntaxCode::EofWhileParsingValue);
        const int lead = static_cast<unsigned char>(data_[index_++]);
        if (!is_digit(lead)) return fail_at_index(SyntaxCode::InvalidNumber);
        std::int64_t exponent = lead - '0';
        for (int c = peek(); is_digit(c); c = peek()) {
            eat();
            exponent = exponent * 10 + (c - '0');
            if (exponent > std::numeric_limits<std::int32_t>::max()) {
                // An exponent beyond 32 bits: infinity is an error right at
                // this digit, anything else is a zero.
                if (!all_zero && positive_exponent) return fail_at_index(SyntaxCode::NumberOutOfRange);
                while (is_digit(peek())) eat();
                out.kind = Kind::Float;
                out.f = positive ? 0.0 : -0.0;
                return true;
            }
        }
        is_float = true;
    }
    return number_value(positive, start, is_float, integer_overflow, significand, out);
}

bool Scanner::number_value(bool positive, std::size_t start, bool is_float, bool integer_overflow,
                           std::uint64_t significand, Number& out) {
    if (!is_float && !integer_overflow) {
        if (positive) {
            out.kind = Kind::PosInt;
            out.u = significand;
            return true;
        }
        constexpr std::uint64_t kMinMagnitude = std::uint64_t{1} << 63;
        if (significand != 0 && significand <= kMinMagnitude) {
            out.kind = Kind::NegInt;
            out.i = significand == kMinMagnitude ? std::numeric_limits<std::int64_t>::min()
                                                 : -static_cast<std::int64_t>(significand);
            return true;
        }
        // "-0" and negatives beyond i64 read as floats.
    }
    const std::string_view literal(data_ + start, index_ - start);
    double value = 0.0;
    const auto result = std::from_chars(literal.data(), literal.data() + literal.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        if (literal_overflows(literal)) return fail_at_index(SyntaxCode::NumberOutOfRange);
        value = positive ? 0.0 : -0.0;
    }
    out.kind = Kind::Float;
    out.f = value;
    return true;
}

bool Scanner::skip_number() {
    int c = peek();
    if (c != kEnd) eat();
    if (c == '0') {
        if (is_digit(peek())) return fail_at_peek(SyntaxCode::InvalidNumber);
    } else if (is_digit(c)) {
        while (is_digit(peek())) eat();
    } else {
        return fail_at_index(SyntaxCode::InvalidNumber);
    }
    if (peek() == '.') {
        eat();
        if (!is_digit(peek())) return fail_at_peek(SyntaxCode::InvalidNumber);
        while (is_digit(peek())) eat();
    }
    if (c = peek(); c == 'e' || c == 'E') {
        eat();
        if (c = peek(); c == '+' || c == '-') eat();
        c = peek();
        if (c != kEnd) eat();
        if (!is_digit(c)) return fail_at_index(SyntaxCode::InvalidNumber);
        while (is_digit(peek())) eat();
    }
    return true;
}

}  // namespace ovra::json
