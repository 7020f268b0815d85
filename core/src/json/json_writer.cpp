#include "json/json_writer.h"

#include <charconv>

#include "json/float_format.h"

namespace ovra::json {

namespace {

// The escape of a byte below 0x20, or of '"' and '\\'; nullptr when the byte
// is copied as it is (0x7F and all bytes of multi-byte characters included).
const char* escape_of(unsigned char byte) noexcept {
    static const char* const kControl[32] = {
        "\\u0000", "\\u0001", "\\u0002", "\\u0003", "\\u0004", "\\u0005", "\\u0006", "\\u0007",
        "\\b",     "\\t",     "\\n",     "\\u000b", "\\f",     "\\r",     "\\u000e", "\\u000f",
        "\\u0010", "\\u0011", "\\u0012", "\\u0013", "\\u0014", "\\u0015", "\\u0016", "\\u0017",
        "\\u0018", "\\u0019", "\\u001a", "\\u001b", "\\u001c", "\\u001d", "\\u001e", "\\u001f",
    };
    if (byte < 0x20) return kControl[byte];
    if (byte == '"') return "\\\"";
    if (byte == '\\') return "\\\\";
    return nullptr;
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
    out.push_back('"');
    std::size_t run_start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char* escape = escape_of(static_cast<unsigned char>(text[i]));
        if (escape == nullptr) continue;
        out.append(text.data() + run_start, i - run_start);  // unescaped run in one piece
        out.append(escape);
        run_start = i + 1;
    }
    out.append(text.data() + run_start, text.size() - run_start);
    out.push_back('"');
}

void JsonWriter::string(std::string_view text) { append_json_string(out_, text); }

void JsonWriter::u64(std::uint64_t value) {
    char buf[20];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    (void)ec;
    out_.append(buf, static_cast<std::size_t>(end - buf));
}

void JsonWriter::i64(std::int64_t value) {
    // The magnitude is formed unsigned, so the most negative value is exact.
    if (value < 0) {
        out_.push_back('-');
        u64(0 - static_cast<std::uint64_t>(value));
    } else {
        u64(static_cast<std::uint64_t>(value));
    }
}

void JsonWriter::f64(double value) { append_float(out_, value); }

}  // namespace ovra::json
