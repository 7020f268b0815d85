// White_Space stripping on UTF-8 bytes: TAB..CR, SPACE, U+0085, U+00A0,
// U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F and U+3000.
#include "text_strip.h"

#include <cstddef>

namespace ovra::binding {

namespace {

unsigned byte_at(std::string_view text, std::size_t i) noexcept { return static_cast<unsigned char>(text[i]); }

// Length in bytes of the White_Space character starting at `at`, or 0.
// Valid UTF-8 makes a lead byte unambiguous, so matching the exact byte
// sequence of each listed character is enough.
std::size_t white_space_at(std::string_view text, std::size_t at) noexcept {
    const std::size_t left = text.size() - at;
    const unsigned b0 = byte_at(text, at);
    if (b0 == 0x20 || (b0 >= 0x09 && b0 <= 0x0D)) return 1;
    if (left >= 2 && b0 == 0xC2) {
        const unsigned b1 = byte_at(text, at + 1);
        return (b1 == 0x85 || b1 == 0xA0) ? 2 : 0;
    }
    if (left < 3) return 0;
    const unsigned b1 = byte_at(text, at + 1);
    const unsigned b2 = byte_at(text, at + 2);
    if (b0 == 0xE1) return (b1 == 0x9A && b2 == 0x80) ? 3 : 0;  // U+1680
    if (b0 == 0xE3) return (b1 == 0x80 && b2 == 0x80) ? 3 : 0;  // U+3000
    if (b0 != 0xE2) return 0;
    if (b1 == 0x80) {
        // U+2000..U+200A, U+2028, U+2029, U+202F
        return (b2 <= 0x8A || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF) && b2 >= 0x80 ? 3 : 0;
    }
    return (b1 == 0x81 && b2 == 0x9F) ? 3 : 0;  // U+205F
}

// Length of the White_Space character that ends the text, or 0. Characters
// here are one, two or three bytes long; each candidate start is tried.
std::size_t white_space_before(std::string_view text) noexcept {
    const std::size_t n = text.size();
    for (std::size_t len = 1; len <= 3 && len <= n; ++len) {
        if (white_space_at(text, n - len) == len) return len;
    }
    return 0;
}

}  // namespace

std::string_view strip_unicode_white_space(std::string_view text) noexcept {
    while (!text.empty()) {
        const std::size_t len = white_space_at(text, 0);
        if (len == 0) break;
        text.remove_prefix(len);
    }
    while (!text.empty()) {
        const std::size_t len = white_space_before(text);
        if (len == 0) break;
        text.remove_suffix(len);
    }
    return text;
}

}  // namespace ovra::binding
