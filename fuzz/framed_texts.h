// Length-prefixed texts on stdin (decimal length, line feed, bytes), the input
// form of the command-line drivers fed by the differential scripts and tests.
#pragma once

#include <iostream>
#include <string>

namespace ovra::check {

// Calls `each(text)` for every text on stdin, in order.
template <typename Each>
void for_each_framed_text(Each each) {
    std::ios::sync_with_stdio(false);
    std::string length;
    while (std::getline(std::cin, length)) {
        std::string text(std::stoull(length), '\0');
        std::cin.read(text.data(), static_cast<std::streamsize>(text.size()));
        each(text);
    }
}

}  // namespace ovra::check
