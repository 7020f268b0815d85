// The float form: shortest round-trip digits (from the integer of an
// eight-decimal value, else from std::to_chars), laid out plain or in
// exponent form by the decimal exponent of the first digit.
#include "json/float_format.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace ovra::json {

namespace {

// Splits to_chars' shortest scientific form "d.ddde±X" into the significant
// digits (no point, no trailing zeros) and the decimal exponent of the first.
int shortest_digits(double magnitude, char* digits, int* exponent) noexcept {
    char sci[kFloatTextCapacity];
    auto [end, ec] = std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific);
    (void)ec;  // the buffer always suffices for a double
    const char* e_pos = static_cast<const char*>(std::memchr(sci, 'e', static_cast<std::size_t>(end - sci)));
    int count = 0;
    for (const char* p = sci; p < e_pos; ++p) {
        if (*p != '.') digits[count++] = *p;
    }
    while (count > 1 && digits[count - 1] == '0') --count;
    int exp = 0;
    std::from_chars(e_pos + 2, end, exp);  // the magnitude, after the sign
    *exponent = e_pos[1] == '-' ? -exp : exp;
    return count;
}

// Values of at most eight decimal places below 2^26 (most cells and bins
// are rounded to eight): when |value| is n / 10^8 as the division rounds
// it, the digits of n are its shortest round-trip digits. Below 2^26 the
// doubles around a value lie less than 10^-8 apart, so no other decimal of
// eight places or fewer rounds to it, and one of more places but fewer
// significant digits is under a tenth of it. Writes the digits (no
// trailing zeros) and the exponent of the first; 0 for any other value.
int eighths_digits(double magnitude, char* digits, int* exponent) noexcept {
    constexpr double kScale = 1e8;
    constexpr double kBelow = 67108864.0;  // 2^26
    if (!(magnitude < kBelow)) return 0;
    const double scaled = std::nearbyint(magnitude * kScale);
    if (scaled < 1.0 || scaled / kScale != magnitude) return 0;
    auto n = static_cast<std::uint64_t>(scaled);  // below 2^53
    int places = 8;  // decimal places of n's last digit
    while (n % 10 == 0) {
        n /= 10;
        --places;
    }
    char text[20];
    auto [end, ec] = std::to_chars(text, text + sizeof text, n);
    (void)ec;
    const int count = static_cast<int>(end - text);
    std::memcpy(digits, text, static_cast<std::size_t>(count));
    *exponent = count - 1 - places;
    return count;
}

}  // namespace

int format_float(double value, char* buf) noexcept {
    if (!std::isfinite(value)) {
        std::memcpy(buf, "null", 4);
        return 4;
    }
    char* out = buf;
    if (std::signbit(value)) *out++ = '-';
    double magnitude = std::fabs(value);
    if (magnitude == 0.0) {
        std::memcpy(out, "0.0", 3);
        return static_cast<int>(out - buf) + 3;
    }
    char digits[20];
    int exponent = 0;
    int n = eighths_digits(magnitude, digits, &exponent);
    if (n == 0) n = shortest_digits(magnitude, digits, &exponent);
    if (exponent >= -5 && exponent <= 15) {
        if (exponent >= n - 1) {  // integral: digits, zeros, ".0"
            std::memcpy(out, digits, static_cast<std::size_t>(n));
            out += n;
            for (int i = 0; i < exponent - n + 1; ++i) *out++ = '0';
            *out++ = '.';
            *out++ = '0';
        } else if (exponent >= 0) {  // point inside the digits
            std::memcpy(out, digits, static_cast<std::size_t>(exponent + 1));
            out += exponent + 1;
            *out++ = '.';
            std::memcpy(out, digits + exponent + 1, static_cast<std::size_t>(n - exponent - 1));
            out += n - exponent - 1;
        } else {  // 0.000ddd
            *out++ = '0';
            *out++ = '.';
            for (int i = 0; i < -exponent - 1; ++i) *out++ = '0';
            std::memcpy(out, digits, static_cast<std::size_t>(n));
            out += n;
        }
    } else {
        *out++ = digits[0];
        if (n > 1) {
            *out++ = '.';
            std::memcpy(out, digits + 1, static_cast<std::size_t>(n - 1));
            out += n - 1;
        }
        *out++ = 'e';
        *out++ = exponent < 0 ? '-' : '+';
        auto [end, ec] = std::to_chars(out, buf + kFloatTextCapacity, exponent < 0 ? -exponent : exponent);
        (void)ec;
        out = end;
    }
    return static_cast<int>(out - buf);
}

void append_float(std::string& out, double value) {
    char buf[kFloatTextCapacity];
    out.append(buf, static_cast<std::size_t>(format_float(value, buf)));
}

std::string float_text(double value) {
    std::string out;
    append_float(out, value);
    return out;
}

}  // namespace ovra::json
