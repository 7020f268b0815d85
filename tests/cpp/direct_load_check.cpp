// Test driver of the direct "load" road: reads length-prefixed texts from
// stdin (decimal length, line feed, bytes), each a dataset text, and prints
// one line per text: "taken" when the direct road took it and the tree road
// gives the same records bit for bit, "declined" when the direct road left
// it to the tree road, else "differ: " and what differs. With the argument
// "split BYTES", series arrays with at least BYTES of text from their start
// to the text's end are shared with a pool worker (when the pool has one),
// and "taken" is followed by the number of worker parts taken over.
#include <cstddef>
#include <iostream>
#include <string>
#include <string_view>

#include "framed_texts.h"
#include "load/direct_dataset_reader.h"
#include "same_records.h"

int main(int argc, char** argv) {
    const bool split = argc == 3 && std::string_view(argv[1]) == "split";
    ovra::load::SplitPolicy policy;
    std::size_t adopted = 0;
    if (split) {
        policy.min_bytes = std::stoull(argv[2]);
        policy.adopted = &adopted;
    }
    ovra::check::for_each_framed_text([&](const std::string& text) {
        adopted = 0;
        auto direct = ovra::load::read_dataset_text(text, policy);
        if (!direct) {
            std::cout << "declined\n";
            return;
        }
        auto tree = ovra::check::tree_dataset(text, false);
        const char* difference = tree ? ovra::check::first_difference(*direct, *tree) : "tree road refuses";
        if (difference == nullptr) {
            std::cout << "taken";
            if (split) std::cout << ' ' << adopted;
            std::cout << '\n';
        } else {
            std::cout << "differ: " << difference << '\n';
        }
    });
}
