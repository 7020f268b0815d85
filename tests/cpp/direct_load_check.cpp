// Test driver of the direct "load" road: reads length-prefixed texts from
// stdin (decimal length, line feed, bytes), each a dataset text, and prints
// one line per text: "taken" when the direct road took it and the tree road
// gives the same records bit for bit, "declined" when the direct road left
// it to the tree road, else "differ: " and what differs.
#include <iostream>
#include <string>

#include "framed_texts.h"
#include "load/direct_dataset_reader.h"
#include "same_records.h"

int main() {
    ovra::check::for_each_framed_text([](const std::string& text) {
        auto direct = ovra::load::read_dataset_text(text);
        if (!direct) {
            std::cout << "declined\n";
            return;
        }
        auto tree = ovra::check::tree_dataset(text, false);
        const char* difference = tree ? ovra::check::first_difference(*direct, *tree) : "tree road refuses";
        if (difference == nullptr) {
            std::cout << "taken\n";
        } else {
            std::cout << "differ: " << difference << '\n';
        }
    });
}
