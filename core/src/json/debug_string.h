// A text quoted the way Rust's Debug formatting quotes it, as it appears in
// `invalid type: string "..."` messages: \" \\ \n \r \t \0, and \u{hex} for
// other control and non-printable code points.
#pragma once

#include <string>
#include <string_view>

namespace ovra::json {

// Appends the quoted text (with its surrounding double quotes) to out.
void append_debug_quoted(std::string& out, std::string_view utf8);

}  // namespace ovra::json
