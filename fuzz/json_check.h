// An independent, strict JSON reader for the fuzz harness: it checks the
// responses of the dispatcher (UTF-8, grammar, compactness) without relying on
// the project's own reader, and finds the command name in a command text.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ovra_fuzz {

struct JsonMember;

struct JsonNode {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    std::string text;  // the number token as written, or the decoded string
    std::vector<JsonNode> items;
    std::vector<JsonMember> members;  // in text order, repetitions kept

    // The last member with this key (a later repetition wins), or nullptr.
    const JsonNode* find(std::string_view key) const;
};

struct JsonMember {
    std::string key;
    JsonNode value;
};

struct JsonCheckOptions {
    bool allow_whitespace = false;  // responses are compact: no blank between tokens
    bool require_utf8 = true;
    int max_depth = 200;
};

// nullopt when the text is not exactly one JSON value under these options.
std::optional<JsonNode> parse_strict(std::string_view text, const JsonCheckOptions& options);

bool is_valid_utf8(std::string_view text);

}  // namespace ovra_fuzz
