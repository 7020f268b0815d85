// libFuzzer target of the direct "load" road: every input is read as a
// dataset text by the direct road and by the value-tree road. Whenever the
// direct road takes a text, the tree road must accept it too and give the
// same records, bit for bit; a text the direct road declines is not checked
// further (the tree road answers it alone). The same is done with the input
// wrapped as a load command, there with every series array shared with a
// pool worker (when the pool has one), as long arrays are.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>

#include "load/direct_dataset_reader.h"
#include "same_records.h"

namespace {

void check(std::string_view text, bool command) {
    ovra::load::SplitPolicy shared_from_start;
    shared_from_start.min_bytes = 0;
    auto direct = command ? ovra::load::read_load_command(text, shared_from_start) : ovra::load::read_dataset_text(text);
    if (!direct) return;
    auto tree = ovra::check::tree_dataset(text, command);
    const char* difference = tree ? ovra::check::first_difference(*direct, *tree) : "the tree road refuses the text";
    if (difference != nullptr) {
        std::fprintf(stderr, "direct and tree roads differ (%s): %s\n", command ? "command" : "dataset", difference);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        check(text, false);
        check("{\"cmd\":\"load\",\"dataset\":" + std::string(text) + "}", true);
    } catch (const std::bad_alloc&) {
        // out of memory under the fuzzer's limit: nothing to compare
    }
    return 0;
}
