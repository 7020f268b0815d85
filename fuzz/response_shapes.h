// The documented response shapes, checked member by member: acknowledgements,
// load count, bounds, version, error envelope and the frame text with its
// four panel kinds, integer and float layouts included.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ovra_fuzz {

enum class Shape { Ack, Loaded, Bounds, Version, Frame, Error };

const char* shape_name(Shape shape);

struct Response {
    Shape shape = Shape::Error;
    std::string error;           // Error: the decoded display text ("parse: ...")
    std::uint64_t loaded = 0;    // Loaded
    std::int64_t from_ts = 0;    // Bounds
    std::int64_t to_ts = 0;      // Bounds
    std::uint64_t count = 0;     // Bounds
    std::int64_t cursor_ts = 0;  // Frame
    bool cursor_known = false;   // Frame: false for a frame too large to check in depth
};

// Reads a response text; on a text that fits no documented shape it returns
// false and says why in *why.
bool classify_response(std::string_view text, bool require_utf8, Response& out, std::string& why);

// Layout checks of single number tokens, shared with the tests of the harness.
bool is_integer_token(std::string_view token);
bool is_float_token(std::string_view token);

}  // namespace ovra_fuzz
