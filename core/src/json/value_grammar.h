// One JSON value read in full over the scanner, with what becomes of it left
// to a handler: the tree builder keeps everything, the spec reader's panel
// buffer checks nested values and keeps only their kind.
#pragma once

#include <string_view>

#include "json/scanner.h"

namespace ovra::json {

// Handler: `Out` (what a value becomes), `Mark` (the state of an open container),
//   Out scalar(const Value&)            // strings point at transient bytes
//   Mark open_array(); void element(Mark&, Out&&); Out close_array(Mark&)
//   Mark open_object(); void key(Mark&, std::string_view); void member(Mark&, Out&&); Out close_object(Mark&)
template <class Handler>
bool read_value(Scanner& scanner, Handler& handler, typename Handler::Out& out) {
    const int c = scanner.skip_whitespace();
    if (c == '[') {
        if (!scanner.enter_container()) return false;
        scanner.eat();
        auto mark = handler.open_array();
        bool first = true;
        for (;;) {
            const auto step = scanner.next_element(first);
            if (step == Scanner::Step::Failed) return false;
            if (step == Scanner::Step::End) break;
            typename Handler::Out item{};
            if (!read_value(scanner, handler, item)) return false;
            handler.element(mark, std::move(item));
        }
        scanner.end_seq();
        scanner.leave_container();
        out = handler.close_array(mark);
        return true;
    }
    if (c == '{') {
        if (!scanner.enter_container()) return false;
        scanner.eat();
        auto mark = handler.open_object();
        bool first = true;
        for (;;) {
            std::string_view key;
            const auto step = scanner.next_key(first, key);
            if (step == Scanner::Step::Failed) return false;
            if (step == Scanner::Step::End) break;
            handler.key(mark, key);
            if (!scanner.parse_colon()) return false;
            typename Handler::Out item{};
            if (!read_value(scanner, handler, item)) return false;
            handler.member(mark, std::move(item));
        }
        scanner.end_map();
        scanner.leave_container();
        out = handler.close_object(mark);
        return true;
    }
    if (c == Scanner::kEnd) return scanner.fail_at_peek(SyntaxCode::EofWhileParsingValue);
    Value scalar;
    if (!scanner.read_unexpected(c, scalar)) return false;
    out = handler.scalar(scalar);
    return true;
}

// Reads one value in full (every string and number checked) and keeps nothing.
bool check_value(Scanner& scanner);

}  // namespace ovra::json
