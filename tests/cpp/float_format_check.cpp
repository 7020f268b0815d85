// Reads one double per line as 16 hex digits of its bits and prints its
// float form, one per line (tests/test_float_form.py compares them with a
// model built on Python's shortest round-trip digits).
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>

#include "json/float_format.h"

int main() {
    std::ios::sync_with_stdio(false);
    std::string line, out;
    char buf[ovra::json::kFloatTextCapacity];
    while (std::getline(std::cin, line)) {
        std::uint64_t bits = 0;
        std::from_chars(line.data(), line.data() + line.size(), bits, 16);
        out.append(buf, static_cast<std::size_t>(ovra::json::format_float(std::bit_cast<double>(bits), buf)));
        out.push_back('\n');
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
