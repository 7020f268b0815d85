// Numeric rules shared by the price-binned panels. The order of double
// operations is part of the output; the build forbids contraction (fma).
#pragma once

#include <cstdint>
#include <cstring>

namespace ovra {

// round(x * 1e8) / 1e8, halves away from zero, -0.0 kept.
double round8(double x) noexcept;

// floor(p / b) * b, then round8.
double bin_edge(double price, double bin) noexcept;

// Key whose signed order is the IEEE 754 total order of doubles:
// -0.0 directly before 0.0, every NaN pattern in a fixed place.
inline std::int64_t total_order_key(double x) noexcept {
    std::int64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
}

// The double whose total_order_key is key (the flip is its own inverse), so
// an ordered map keyed by total_order_key need not store the price twice.
inline double total_order_value(std::int64_t key) noexcept {
    const std::int64_t bits = key ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(key >> 63) >> 1);
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

// Floor division for b > 0 (the quotient rounds towards minus infinity).
inline std::int64_t floor_div(std::int64_t a, std::int64_t b) noexcept {
    std::int64_t q = a / b;
    if ((a % b != 0) && (a < 0)) --q;
    return q;
}

}  // namespace ovra
