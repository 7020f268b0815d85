// Trims Unicode White_Space from both ends of a UTF-8 text, as the
// constructor does before it looks at a spec text. Never copies.
#pragma once

#include <string_view>

namespace ovra::binding {

// The input must be valid UTF-8 (it comes from a Python str).
std::string_view strip_unicode_white_space(std::string_view text) noexcept;

}  // namespace ovra::binding
