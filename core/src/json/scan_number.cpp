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
    // Digits of integer and fraction as one integer while it fits: an integer
    // value, or the fast exact path of a short float.
    std::uint64_t mantissa = 0;
    bool mantissa_overflow = false;
    bool all_zero = true;
    const auto push_digit = [&](int c) {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (digit != 0) all_zero = false;
        if (mantissa_overflow) return;
        if (mantissa > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
            mantissa_overflow = true;
        } else {
            mantissa = mantissa * 10 + digit;
        }
    };
    if (first == '0') {
        if (is_digit(peek())) return fail_at_peek(SyntaxCode::InvalidNumber);
    } else if (is_digit(first)) {
        push_digit(first);
        for (int c = peek(); is_digit(c); c = peek()) {
            push_digit(c);
            eat();
        }
    } else {
        return fail_at_index(SyntaxCode::InvalidNumber);
    }
    const bool integer_overflow = mantissa_overflow;
    bool is_float = integer_overflow;
    std::int64_t fraction_digits = 0;
    if (peek() == '.') {
        eat();
        for (int c = peek(); is_digit(c); c = peek()) {
            push_digit(c);
            if (!mantissa_overflow) ++fraction_digits;
            eat();
        }
        if (index_ > 0 && data_[index_ - 1] == '.') {
            return fail_at_peek(index_ == size_ ? SyntaxCode::EofWhileParsingValue : SyntaxCode::InvalidNumber);
        }
        is_float = true;
    }
    std::int64_t exponent = 0;
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
        exponent = lead - '0';
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
        if (!positive_exponent) exponent = -exponent;
        is_float = true;
    }
    if (!is_float) return integer_value(positive, start, mantissa, out);
    if (!mantissa_overflow) {
        // Exact operands and one IEEE operation: correctly rounded, as from_chars.
        constexpr std::uint64_t kExactMantissa = std::uint64_t{1} << 53;
        const std::int64_t scale = exponent - fraction_digits;
        if (mantissa <= kExactMantissa && scale >= -22 && scale <= 22) {
            static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
            const auto m = static_cast<double>(mantissa);
            const double value = scale >= 0 ? m * kPowers[scale] : m / kPowers[-scale];
            out.kind = Kind::Float;
            out.f = positive ? value : -value;
            return true;
        }
    }
    return float_value(positive, start, out);
}

bool Scanner::integer_value(bool positive, std::size_t start, std::uint64_t significand, Number& out) {
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
    return float_value(positive, start, out);
}

bool Scanner::float_value(bool positive, std::size_t start, Number& out) {
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
