#include "json/debug_string.h"

#include <cstdio>

namespace ovra::json {

// Provisional: escapes quote, backslash and ASCII control bytes only; the
// non-printable code point table is still to come.
void append_debug_quoted(std::string& out, std::string_view utf8) {
    out.push_back('"');
    for (char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\0': out += "\\0"; break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    char buf[12];
                    std::snprintf(buf, sizeof buf, "\\u{%x}", byte);
                    out += buf;
                } else {
                    out.push_back(c);
                }
        }
    }
    out.push_back('"');
}

}  // namespace ovra::json
