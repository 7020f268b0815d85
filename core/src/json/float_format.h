// The one float form of every output and message: shortest round-trip
// digits, plain for decimal exponents -5..15 (".0" on integral values),
// otherwise d.ddde+X / d.ddde-X; 0.0, -0.0; non-finite as null.
#pragma once

#include <string>

namespace ovra::json {

// Largest text: "-1.7976931348623157e+308" (24 bytes).
constexpr int kFloatTextCapacity = 32;

// Writes the float form into buf (at least kFloatTextCapacity bytes) and
// returns its length. Non-finite values are written as "null".
int format_float(double value, char* buf) noexcept;

void append_float(std::string& out, double value);
std::string float_text(double value);

}  // namespace ovra::json
