// The byte cursor of the direct "load" road. It recognises only text that
// the value-tree reader would accept, and reads it to the same values: every
// step returns false at the first byte it is not sure of, and the caller then
// gives the text up to the tree road, which reports the exact error. Common
// shapes (plain numbers, strings without escapes, compact punctuation) are
// read inline; numbers beyond the short exact form, escaped strings and
// skipped values go to the shared scanner, so every number converts to the
// same double on both roads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

#include "json/scanner.h"
#include "load/direct_digits.h"

namespace ovra::load {

class Cursor {
public:
    explicit Cursor(std::string_view text) noexcept
        : scanner_(text), begin_(text.data()), p_(text.data()), end_(text.data() + text.size()) {}
    // A cursor at byte `at` of `text` with `open` containers entered: where
    // a reader of a later part of the text starts.
    Cursor(std::string_view text, const char* at, int open) noexcept
        : scanner_(text), begin_(text.data()), p_(at), end_(text.data() + text.size()), open_(open) {}
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;

    std::string_view text() const noexcept { return {begin_, static_cast<std::size_t>(end_ - begin_)}; }
    // The byte looked at next (after peek(): the first byte past white space).
    const char* here() const noexcept { return p_; }
    const char* end() const noexcept { return end_; }
    int open_containers() const noexcept { return open_; }
    // Goes on where `other`, a reader of a later part of the same text, stopped.
    void continue_from(const Cursor& other) noexcept {
        p_ = other.p_;
        open_ = other.open_;
    }

    // The next byte after JSON white space (not consumed), or -1 at the end.
    int peek() noexcept {
        // Every JSON space byte is below '!': one compare settles the common case.
        if (p_ < end_ && static_cast<unsigned char>(*p_) > ' ') return static_cast<unsigned char>(*p_);
        while (p_ < end_ && is_space(*p_)) ++p_;
        return p_ < end_ ? static_cast<unsigned char>(*p_) : -1;
    }
    // Consumes `c` after white space.
    bool take(char c) noexcept {
        if (peek() != static_cast<unsigned char>(c)) return false;
        ++p_;
        return true;
    }
    // Opens an array or object at its bracket, within the reader's depth
    // budget (the 128th nested container is refused, as by the tree road).
    bool enter(char bracket) noexcept {
        if (peek() != static_cast<unsigned char>(bracket) || open_ + 1 >= json::Scanner::kDepthBudget) return false;
        ++open_;
        ++p_;
        return true;
    }
    void leave() noexcept { --open_; }

    // After an element or member: true with `more` set at a comma, true with
    // `more` cleared at the closing byte (consumed, container left).
    bool next(char close, bool& more) noexcept {
        const int c = peek();
        if (c == ',') {
            ++p_;
            more = true;
            return true;
        }
        if (c != static_cast<unsigned char>(close)) return false;
        ++p_;
        --open_;
        more = false;
        return true;
    }
    // Consumes the closing byte of an empty container if it is next.
    bool take_close(char close) noexcept {
        if (peek() != static_cast<unsigned char>(close)) return false;
        ++p_;
        --open_;
        return true;
    }

    // An object key and its colon.
    bool key(std::string_view& out) noexcept { return peek() == '"' && string(out) && take(':'); }
    // A string value (the next byte must be its quote); out is valid until the
    // next string is read.
    bool string(std::string_view& out) noexcept;

    bool number(json::Number& out) noexcept;
    // A float field: any number, an integer converted to the nearest double.
    bool f64(double& out) noexcept { return short_f64(out) || general_f64(out); }
    // A timestamp: an integer within i64.
    bool i64(std::int64_t& out) noexcept { return short_i64(out) || general_i64(out); }
    // "[x,y]" written without white space, both numbers in a short form;
    // false leaves the cursor where it was.
    bool compact_pair(double& first, double& second) noexcept {
        const char* start = p_;
        if (p_ == end_ || *p_ != '[' || open_ + 1 >= json::Scanner::kDepthBudget) return false;
        ++p_;
        if (short_f64(first) && *p_ == ',' && (++p_, short_f64(second)) && *p_ == ']') {
            ++p_;
            return true;
        }
        p_ = start;
        return false;
    }
    // The string `word` written without escapes, if it is next (after white
    // space); a string that only decodes to it is left to string().
    bool take_word(std::string_view word) noexcept {
        if (peek() != '"' || static_cast<std::size_t>(end_ - p_) < word.size() + 2 || p_[word.size() + 1] != '"') {
            return false;
        }
        for (std::size_t i = 0; i < word.size(); ++i) {
            if (p_[i + 1] != word[i]) return false;
        }
        p_ += word.size() + 2;
        return true;
    }
    bool null() noexcept {
        if (peek() != 'n' || end_ - p_ < 4 || p_[1] != 'u' || p_[2] != 'l' || p_[3] != 'l') return false;
        p_ += 4;
        return true;
    }

    // Reads a value that nobody keeps, with every check the tree road makes.
    bool skip_value() noexcept;
    // Only white space remains.
    bool at_end() noexcept { return peek() == -1; }

private:
    static bool is_space(char c) noexcept { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; }
    static bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

    // The common number shapes, read without a scanner; false leaves the
    // cursor where it was, for the general reader.
    [[gnu::always_inline]] bool short_f64(double& out) noexcept;
    [[gnu::always_inline]] bool short_i64(std::int64_t& out) noexcept;
    // Every other number, through number().
    [[gnu::noinline]] bool general_f64(double& out) noexcept;
    [[gnu::noinline]] bool general_i64(std::int64_t& out) noexcept;

    std::size_t offset() const noexcept { return static_cast<std::size_t>(p_ - begin_); }
    bool scanner_number(json::Number& out) noexcept;
    bool scanner_string(std::string_view& out) noexcept;

    json::Scanner scanner_;
    const char* begin_;
    const char* p_;
    const char* end_;
    int open_ = 0;  // arrays and objects entered and not yet closed
};

// The short exact form: at most 19 digits in all, a fraction of at most 22
// digits, no exponent, and for a fraction a digit value of at most 2^53, so
// that the scanner too converts it with one exact division.
inline bool Cursor::number(json::Number& out) noexcept {
    if (peek() == -1) return false;
    const char* q = p_;
    const bool negative = *q == '-';
    if (negative) ++q;
    const char* digits = q;
    std::uint64_t m = 0;
    if (q < end_ && *q == '0') {
        ++q;
    } else {
        while (q < end_ && is_digit(*q)) m = m * 10 + static_cast<std::uint64_t>(*q++ - '0');
    }
    const auto integer_digits = q - digits;
    if (integer_digits == 0 || integer_digits > 19 || (q < end_ && is_digit(*q))) return scanner_number(out);
    if (q < end_ && *q == '.') {
        const char* fraction = ++q;
        while (q < end_ && is_digit(*q)) m = m * 10 + static_cast<std::uint64_t>(*q++ - '0');
        const auto fraction_digits = q - fraction;
        if (fraction_digits == 0 || integer_digits + fraction_digits > 19 || fraction_digits > 22 ||
            m > (std::uint64_t{1} << 53) || (q < end_ && (*q == 'e' || *q == 'E'))) {
            return scanner_number(out);
        }
        static constexpr std::array<double, 23> kPowers{1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
        const double value = static_cast<double>(m) / kPowers[static_cast<std::size_t>(fraction_digits)];
        out.kind = json::Kind::Float;
        out.f = negative ? -value : value;
        p_ = q;
        return true;
    }
    if (q < end_ && (*q == 'e' || *q == 'E')) return scanner_number(out);
    if (!negative) {
        out.kind = json::Kind::PosInt;
        out.u = m;
    } else {
        // "-0" is a float, and so is a negative beyond i64.
        if (m == 0 || m >= (std::uint64_t{1} << 63)) return scanner_number(out);
        out.kind = json::Kind::NegInt;
        out.i = -static_cast<std::int64_t>(m);
    }
    p_ = q;
    return true;
}

inline bool Cursor::string(std::string_view& out) noexcept {
    const char* start = p_ + 1;
    const char* q = start;
    while (q < end_ && *q != '"' && *q != '\\' && static_cast<unsigned char>(*q) >= 0x20) ++q;
    if (q < end_ && *q == '"') {
        out = std::string_view(start, static_cast<std::size_t>(q - start));
        p_ = q + 1;
        return true;
    }
    if (q < end_ && *q == '\\') return scanner_string(out);
    return false;
}

// A float field of at most 15 digits in all and no exponent: its digits form
// an integer below 10^15 < 2^53 and the scale is at most 10^15, so one IEEE
// division of two exact doubles gives the correctly rounded value, as the
// scanner's from_chars does; an integer is exact as a double. Leading zeros,
// an empty part, longer numbers and exponents go to the general reader,
// which accepts or refuses them as the tree road does.
inline bool Cursor::short_f64(double& out) noexcept {
    constexpr int kMostDigits = 15;
    if (end_ - p_ < 2 * kMostDigits) return false;  // room for every byte looked at below
    const char* q = p_;
    const bool negative = *q == '-';
    q += negative;
    const char* integer = q;
    std::uint64_t digits = 0;
    q = append_digits(q, integer + kMostDigits + 1, digits);
    const auto integer_digits = q - integer;
    if (integer_digits == 0 || integer_digits > kMostDigits || (*integer == '0' && integer_digits > 1)) return false;
    double value = 0.0;
    if (*q == '.') {
        const std::uint64_t whole = digits;
        const char* fraction = ++q;
        q = append_digits(q, fraction + (kMostDigits + 1 - integer_digits), digits);
        const auto fraction_digits = q - fraction;
        if (fraction_digits == 0 || integer_digits + fraction_digits > kMostDigits) return false;
        const auto scale = static_cast<std::size_t>(fraction_digits);
        // A fraction of zeros ("64001.0") divides to the whole part exactly:
        // the same double without the division.
        value = digits == whole * kIntegerPowersOfTen[scale] ? static_cast<double>(whole)
                                                              : static_cast<double>(digits) / kExactPowersOfTen[scale];
    } else {
        value = static_cast<double>(digits);
    }
    if (*q == 'e' || *q == 'E') return false;
    out = negative ? -value : value;
    p_ = q;
    return true;
}

// A non-negative timestamp of at most 18 digits without leading zero,
// fraction or exponent (below the i64 limit).
inline bool Cursor::short_i64(std::int64_t& out) noexcept {
    constexpr int kMostDigits = 18;
    if (end_ - p_ < kMostDigits + 2) return false;
    std::uint64_t value = 0;
    const char* q = append_digits(p_, p_ + kMostDigits + 1, value);
    const auto digits = q - p_;
    if (digits == 0 || digits > kMostDigits || (*p_ == '0' && digits > 1)) return false;
    if (*q == '.' || *q == 'e' || *q == 'E') return false;
    out = static_cast<std::int64_t>(value);
    p_ = q;
    return true;
}

}  // namespace ovra::load
