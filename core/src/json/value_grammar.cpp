// A value read in full and dropped.
#include "json/value_grammar.h"

namespace ovra::json {

namespace {

struct Discard {
    struct Out {};
    using Mark = int;
    Out scalar(const Value&) const noexcept { return {}; }
    Mark open_array() const noexcept { return 0; }
    void element(Mark, Out&&) const noexcept {}
    Out close_array(Mark) const noexcept { return {}; }
    Mark open_object() const noexcept { return 0; }
    void key(Mark, std::string_view) const noexcept {}
    void member(Mark, Out&&) const noexcept {}
    Out close_object(Mark) const noexcept { return {}; }
};

}  // namespace

bool check_value(Scanner& scanner) {
    Discard discard;
    Discard::Out out;
    return read_value(scanner, discard, out);
}

}  // namespace ovra::json
