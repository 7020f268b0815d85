// Runs of decimal digits for the cursor's short number forms, read where the
// caller has made sure that enough bytes follow (no end test per digit).
#pragma once

#include <array>
#include <cstdint>

namespace ovra::load {

inline constexpr std::array<double, 16> kExactPowersOfTen{1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                          1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

inline constexpr std::array<std::uint64_t, 16> kIntegerPowersOfTen{
    1,           10,           100,           1000,           10000,           100000,           1000000,          10000000,
    100000000,   1000000000,   10000000000,   100000000000,   1000000000000,   10000000000000,   100000000000000,  1000000000000000};

inline bool is_digit_byte(char c) noexcept { return static_cast<unsigned char>(c - '0') < 10; }

// The digits from `p` up to the first other byte or to `limit`, appended to
// `value`; returns the position after them. Bytes up to `limit` must exist.
inline const char* append_digits(const char* p, const char* limit, std::uint64_t& value) noexcept {
    std::uint64_t v = value;
    while (p < limit && is_digit_byte(*p)) v = v * 10 + static_cast<std::uint64_t>(*p++ - '0');
    value = v;
    return p;
}

}  // namespace ovra::load
