// Compact JSON output into one growing byte buffer: minimal string escaping,
// plain decimal integers, floats in the frame float form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ovra::json {

class JsonWriter {
public:
    JsonWriter() { out_.reserve(128); }

    void raw(std::string_view text) { out_.append(text); }
    void raw(char c) { out_.push_back(c); }
    void string(std::string_view text);  // quoted, escaped byte by byte
    void i64(std::int64_t value);
    void u64(std::uint64_t value);
    void f64(double value);  // float form; non-finite as null

    std::string& text() noexcept { return out_; }
    std::string take() noexcept { return std::move(out_); }

private:
    std::string out_;
};

// Appends the quoted, escaped form of text to out.
void append_json_string(std::string& out, std::string_view text);

}  // namespace ovra::json
