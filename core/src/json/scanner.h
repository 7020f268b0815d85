// The byte scanner under both JSON roads: the value-tree reader of command
// texts and the streaming spec reader. It reads tokens, keeps one byte offset
// and the depth budget, and records the first failure; line and column are
// derived from the failure's offset only when the message is made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "json/json_reader.h"
#include "json/json_value.h"
#include "json/syntax_error.h"

namespace ovra::json {

// A number as the reader classifies it: PosInt, NegInt or Float.
struct Number {
    Kind kind = Kind::PosInt;
    union {
        std::uint64_t u;
        std::int64_t i;
        double f;
    };
    Number() noexcept : u(0) {}

    Value value() const noexcept {
        return kind == Kind::PosInt ? Value::pos_int(u) : kind == Kind::NegInt ? Value::neg_int(i) : Value::floating(f);
    }
};

class Scanner {
public:
    static constexpr int kEnd = -1;
    static constexpr int kDepthBudget = 128;

    explicit Scanner(std::string_view text) noexcept
        : data_(text.data()), size_(text.size()) {}

    // Skips space, tab, line feed and carriage return; returns the next byte or kEnd.
    int skip_whitespace() noexcept {
        while (index_ < size_) {
            const auto c = static_cast<unsigned char>(data_[index_]);
            if (c != ' ' && c != '\n' && c != '\t' && c != '\r') return c;
            ++index_;
        }
        return kEnd;
    }
    int peek() const noexcept { return index_ < size_ ? static_cast<unsigned char>(data_[index_]) : kEnd; }
    // Continues at byte `index` with `open_containers` arrays and objects
    // already entered: for a reader that walked the text before it on its own.
    void resume_at(std::size_t index, int open_containers) noexcept {
        index_ = index;
        remaining_depth_ = kDepthBudget - open_containers;
    }
    void eat() noexcept { ++index_; }
    std::size_t index() const noexcept { return index_; }
    std::string_view text() const noexcept { return {data_, size_}; }

    // Every fail_* records the failure (the first one stays) and returns false,
    // so that callers can write `return fail_...`.
    // Position = the bytes consumed so far.
    bool fail_at_index(SyntaxCode code);
    // Position = the byte being looked at (serde's peek position).
    bool fail_at_peek(SyntaxCode code);
    // A conversion failure: its position is fixed later by fix_position().
    bool fail_custom(std::string message);
    // Gives an unplaced conversion failure the current position.
    void fix_position() noexcept;
    bool failed() const noexcept { return failed_; }
    ReadError read_error() const;

    // Depth budget shared by parsed and skipped values: entering the 128th
    // nested array or object fails at its bracket (not yet eaten).
    bool enter_container() {
        if (--remaining_depth_ == 0) return fail_at_peek(SyntaxCode::RecursionLimitExceeded);
        return true;
    }
    void leave_container() noexcept { ++remaining_depth_; }

    // Array and object access, one step at a time (serde's SeqAccess and
    // MapAccess). `first` starts true and is kept by the callee.
    enum class Step { Item, End, Failed };
    // Another element follows (its first byte not consumed), or End at `]` (not eaten).
    Step next_element(bool& first);
    // Another member follows and its key has been read into `key` (valid until
    // the next string is read), or End at `}` (not eaten).
    Step next_key(bool& first, std::string_view& key);
    bool parse_colon();
    // Closing bracket or brace of a container whose reader stopped. Called even
    // after a failure inside the container: it then only moves the position
    // that a later conversion error is reported at.
    bool end_seq();
    bool end_map();

    // The rest of null/true/false after the first byte has been eaten.
    bool parse_ident(std::string_view rest);
    // A number whose '-' (when negative) has been eaten; the first digit has not.
    bool parse_number(bool positive, Number& out);
    // A string whose opening quote has been eaten; escapes decoded, surrogates
    // checked. out points into the text or into the scanner's scratch buffer
    // and stays valid until the next parse_string.
    bool parse_string(std::string_view& out);

    // Syntax-only scanning of values that nobody reads: no range check on
    // numbers, no surrogate check in escapes.
    bool skip_value();
    bool skip_string();  // opening quote eaten
    bool skip_number();  // '-' eaten when negative

    // A scalar read in full as the description of a value of the wrong type
    // (strings point into the text or scratch); arrays and objects become empty
    // markers without being consumed, since their description is only
    // "sequence" or "map". c is the byte at the position (already peeked).
    bool read_unexpected(int c, Value& out);

private:
    bool parse_escape();
    bool decode_hex_escape(std::uint32_t& out);
    bool skip_escape();
    bool skip_array();
    bool skip_object();
    bool integer_value(bool positive, std::size_t start, std::uint64_t significand, Number& out);
    bool float_value(bool positive, std::size_t start, Number& out);
    bool fail_positioned(std::string message, std::size_t offset);

    const char* data_;
    std::size_t size_;
    std::size_t index_ = 0;
    int remaining_depth_ = kDepthBudget;
    std::string scratch_;

    bool failed_ = false;
    bool placed_ = false;
    std::size_t failure_offset_ = 0;
    std::string failure_message_;
};

// Line (from 1) and column (bytes of that line up to offset) of a byte offset.
void locate(std::string_view text, std::size_t offset, std::size_t& line, std::size_t& column) noexcept;

}  // namespace ovra::json
