// The harness's strict JSON reader: RFC 8259 grammar, UTF-8 checked byte by
// byte, surrogate pairs joined, optional rejection of any blank between tokens.
#include "json_check.h"

#include <cstdint>

namespace ovra_fuzz {

namespace {

// Length of the UTF-8 sequence starting at text[i], 0 when it is malformed
// (overlong forms, surrogates and code points above U+10FFFF included).
std::size_t utf8_sequence_length(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    return length;
}

void append_utf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

class Reader {
public:
    Reader(std::string_view text, const JsonCheckOptions& options) : text_(text), options_(options) {}

    std::optional<JsonNode> document() {
        skip_blanks();
        JsonNode root;
        if (!value(root, 0)) return std::nullopt;
        skip_blanks();
        if (pos_ != text_.size()) return std::nullopt;
        return root;
    }

private:
    bool at_end() const { return pos_ >= text_.size(); }
    char peek() const { return text_[pos_]; }

    void skip_blanks() {
        if (!options_.allow_whitespace) return;
        while (!at_end() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) ++pos_;
    }

    bool literal(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word) return false;
        pos_ += word.size();
        return true;
    }

    bool value(JsonNode& out, int depth) {
        if (at_end()) return false;
        switch (peek()) {
            case 'n': out.type = JsonNode::Type::Null; return literal("null");
            case 't': out.type = JsonNode::Type::Bool; out.boolean = true; return literal("true");
            case 'f': out.type = JsonNode::Type::Bool; out.boolean = false; return literal("false");
            case '"': out.type = JsonNode::Type::String; return string(out.text);
            case '[': return depth < options_.max_depth && array(out, depth + 1);
            case '{': return depth < options_.max_depth && object(out, depth + 1);
            default: out.type = JsonNode::Type::Number; return number(out.text);
        }
    }

    bool digits() {
        const std::size_t start = pos_;
        while (!at_end() && peek() >= '0' && peek() <= '9') ++pos_;
        return pos_ > start;
    }

    bool number(std::string& token) {
        const std::size_t start = pos_;
        if (!at_end() && peek() == '-') ++pos_;
        if (at_end()) return false;
        if (peek() == '0') {
            ++pos_;
        } else if (!digits()) {
            return false;
        }
        if (!at_end() && peek() == '.') {
            ++pos_;
            if (!digits()) return false;
        }
        if (!at_end() && (peek() == 'e' || peek() == 'E')) {
            ++pos_;
            if (!at_end() && (peek() == '+' || peek() == '-')) ++pos_;
            if (!digits()) return false;
        }
        token.assign(text_.substr(start, pos_ - start));
        return true;
    }

    bool hex4(std::uint32_t& out) {
        if (pos_ + 4 > text_.size()) return false;
        out = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text_[pos_++];
            out <<= 4;
            if (c >= '0' && c <= '9') out |= static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f') out |= static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') out |= static_cast<std::uint32_t>(c - 'A' + 10);
            else return false;
        }
        return true;
    }

    bool escape(std::string& out) {
        if (at_end()) return false;
        const char c = text_[pos_++];
        switch (c) {
            case '"': out += '"'; return true;
            case '\\': out += '\\'; return true;
            case '/': out += '/'; return true;
            case 'b': out += '\b'; return true;
            case 'f': out += '\f'; return true;
            case 'n': out += '\n'; return true;
            case 'r': out += '\r'; return true;
            case 't': out += '\t'; return true;
            case 'u': break;
            default: return false;
        }
        std::uint32_t cp = 0;
        if (!hex4(cp)) return false;
        if (cp >= 0xDC00 && cp <= 0xDFFF) return false;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            std::uint32_t low = 0;
            if (!literal("\\u") || !hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        append_utf8(out, cp);
        return true;
    }

    bool string(std::string& out) {
        ++pos_;  // opening quote
        while (!at_end()) {
            const unsigned char c = static_cast<unsigned char>(peek());
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (c < 0x20) return false;
            if (c == '\\') {
                ++pos_;
                if (!escape(out)) return false;
                continue;
            }
            std::size_t length = 1;
            if (c >= 0x80 && options_.require_utf8) {
                length = utf8_sequence_length(text_, pos_);
                if (length == 0) return false;
            }
            out.append(text_.substr(pos_, length));
            pos_ += length;
        }
        return false;
    }

    bool array(JsonNode& out, int depth) {
        out.type = JsonNode::Type::Array;
        ++pos_;
        skip_blanks();
        if (!at_end() && peek() == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            skip_blanks();
            out.items.emplace_back();
            if (!value(out.items.back(), depth)) return false;
            skip_blanks();
            if (at_end()) return false;
            const char c = text_[pos_++];
            if (c == ']') return true;
            if (c != ',') return false;
        }
    }

    bool object(JsonNode& out, int depth) {
        out.type = JsonNode::Type::Object;
        ++pos_;
        skip_blanks();
        if (!at_end() && peek() == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            skip_blanks();
            if (at_end() || peek() != '"') return false;
            std::string key;
            if (!string(key)) return false;
            skip_blanks();
            if (at_end() || text_[pos_++] != ':') return false;
            skip_blanks();
            JsonNode member;
            if (!value(member, depth)) return false;
            out.members.push_back(JsonMember{std::move(key), std::move(member)});
            skip_blanks();
            if (at_end()) return false;
            const char c = text_[pos_++];
            if (c == '}') return true;
            if (c != ',') return false;
        }
    }

    std::string_view text_;
    const JsonCheckOptions& options_;
    std::size_t pos_ = 0;
};

}  // namespace

const JsonNode* JsonNode::find(std::string_view key) const {
    const JsonNode* found = nullptr;
    for (const auto& member : members) {
        if (member.key == key) found = &member.value;
    }
    return found;
}

std::optional<JsonNode> parse_strict(std::string_view text, const JsonCheckOptions& options) {
    return Reader(text, options).document();
}

bool is_valid_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8_sequence_length(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

}  // namespace ovra_fuzz
