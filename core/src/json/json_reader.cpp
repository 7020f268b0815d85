// The command-text reader: builds the value tree over the shared scanner.
// Children are gathered on two stacks and copied into the Document's arena
// when their container closes, so each node costs one arena slot, no malloc.
#include "json/json_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "json/arena.h"
#include "json/scanner.h"

namespace ovra::json {

struct Document::Storage {
    Arena nodes;  // values and members, 8-aligned
    Arena bytes;  // string bytes, unaligned
};

Document::Document() = default;
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;
Document::~Document() = default;

std::string ReadError::display() const {
    return message + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

class DocumentBuilder {
public:
    explicit DocumentBuilder(std::string_view text) : scanner_(text), storage_(std::make_unique<Document::Storage>()) {}

    Result<Document, ReadError> run() {
        Value root;
        if (!parse_value(root)) return fail(scanner_.read_error());
        if (scanner_.skip_whitespace() != Scanner::kEnd) {
            scanner_.fail_at_peek(SyntaxCode::TrailingCharacters);
            return fail(scanner_.read_error());
        }
        Document document;
        document.root_ = root;
        document.storage_ = std::move(storage_);
        return document;
    }

private:
    bool parse_value(Value& out);
    bool parse_array(Value& out);
    bool parse_object(Value& out);
    const char* store_bytes(std::string_view bytes);
    std::string_view store_key(std::string_view key);
    void sort_members(std::size_t base);

    Scanner scanner_;
    std::unique_ptr<Document::Storage> storage_;
    std::vector<Value> values_;    // elements of the open arrays
    std::vector<Member> members_;  // members of the open objects

    // Recently stored keys: records repeat the same few keys, so each is kept once.
    struct KeySlot {
        const char* data = nullptr;
        std::size_t size = 0;
    };
    static constexpr std::size_t kKeySlots = 256;
    std::array<KeySlot, kKeySlots> key_slots_{};
};

const char* DocumentBuilder::store_bytes(std::string_view bytes) {
    if (bytes.empty()) return "";
    auto* p = static_cast<char*>(storage_->bytes.allocate(bytes.size(), 1));
    std::memcpy(p, bytes.data(), bytes.size());
    return p;
}

std::string_view DocumentBuilder::store_key(std::string_view key) {
    constexpr std::size_t kLongestShared = 64;
    if (key.size() > kLongestShared) return {store_bytes(key), key.size()};
    std::size_t hash = key.size();
    for (char c : key) hash = hash * 31 + static_cast<unsigned char>(c);
    KeySlot& slot = key_slots_[hash % kKeySlots];
    if (slot.data == nullptr || slot.size != key.size() || std::memcmp(slot.data, key.data(), key.size()) != 0) {
        slot.data = store_bytes(key);
        slot.size = key.size();
    }
    return {slot.data, slot.size};
}

bool DocumentBuilder::parse_value(Value& out) {
    const int c = scanner_.skip_whitespace();
    switch (c) {
        case Scanner::kEnd: return scanner_.fail_at_peek(SyntaxCode::EofWhileParsingValue);
        case 'n':
            scanner_.eat();
            out = Value::null();
            return scanner_.parse_ident("ull");
        case 't':
            scanner_.eat();
            out = Value::boolean(true);
            return scanner_.parse_ident("rue");
        case 'f':
            scanner_.eat();
            out = Value::boolean(false);
            return scanner_.parse_ident("alse");
        case '"': {
            scanner_.eat();
            std::string_view text;
            if (!scanner_.parse_string(text)) return false;
            out = Value::string(store_bytes(text), text.size());
            return true;
        }
        case '[': return parse_array(out);
        case '{': return parse_object(out);
        default: break;
    }
    if (c != '-' && (c < '0' || c > '9')) return scanner_.fail_at_peek(SyntaxCode::ExpectedSomeValue);
    const bool positive = c != '-';
    if (!positive) scanner_.eat();
    Number number;
    if (!scanner_.parse_number(positive, number)) return false;
    switch (number.kind) {
        case Kind::PosInt: out = Value::pos_int(number.u); break;
        case Kind::NegInt: out = Value::neg_int(number.i); break;
        default: out = Value::floating(number.f); break;
    }
    return true;
}

bool DocumentBuilder::parse_array(Value& out) {
    if (!scanner_.enter_container()) return false;
    scanner_.eat();
    const std::size_t base = values_.size();
    for (bool first = true;; first = false) {
        int c = scanner_.skip_whitespace();
        if (c == ']') break;
        if (c == ',' && !first) {
            scanner_.eat();
            c = scanner_.skip_whitespace();
            if (c == ']') return scanner_.fail_at_peek(SyntaxCode::TrailingComma);
            if (c == Scanner::kEnd) return scanner_.fail_at_peek(SyntaxCode::EofWhileParsingValue);
        } else if (c == Scanner::kEnd) {
            return scanner_.fail_at_peek(SyntaxCode::EofWhileParsingList);
        } else if (!first) {
            return scanner_.fail_at_peek(SyntaxCode::ExpectedListCommaOrEnd);
        }
        Value element;
        if (!parse_value(element)) return false;
        values_.push_back(element);
    }
    scanner_.eat();
    scanner_.leave_container();
    const std::size_t count = values_.size() - base;
    Value* items = nullptr;
    if (count != 0) {
        items = static_cast<Value*>(storage_->nodes.allocate(count * sizeof(Value)));
        std::copy(values_.begin() + static_cast<std::ptrdiff_t>(base), values_.end(), items);
        values_.resize(base);
    }
    out = Value::array(items, count);
    return true;
}

bool DocumentBuilder::parse_object(Value& out) {
    if (!scanner_.enter_container()) return false;
    scanner_.eat();
    const std::size_t base = members_.size();
    for (bool first = true;; first = false) {
        int c = scanner_.skip_whitespace();
        if (c == '}') break;
        if (c == ',' && !first) {
            scanner_.eat();
            c = scanner_.skip_whitespace();
        } else if (c == Scanner::kEnd) {
            return scanner_.fail_at_peek(SyntaxCode::EofWhileParsingObject);
        } else if (!first) {
            return scanner_.fail_at_peek(SyntaxCode::ExpectedObjectCommaOrEnd);
        }
        if (c != '"') {
            return scanner_.fail_at_peek(c == '}'             ? SyntaxCode::TrailingComma
                                         : c == Scanner::kEnd ? SyntaxCode::EofWhileParsingValue
                                                              : SyntaxCode::KeyMustBeAString);
        }
        scanner_.eat();
        std::string_view key;
        if (!scanner_.parse_string(key)) return false;
        Member member{store_key(key), Value()};
        c = scanner_.skip_whitespace();
        if (c != ':') {
            return scanner_.fail_at_peek(c == Scanner::kEnd ? SyntaxCode::EofWhileParsingObject
                                                            : SyntaxCode::ExpectedColon);
        }
        scanner_.eat();
        if (!parse_value(member.value)) return false;
        members_.push_back(member);
    }
    scanner_.eat();
    scanner_.leave_container();
    sort_members(base);
    const std::size_t count = members_.size() - base;
    Member* stored = nullptr;
    if (count != 0) {
        stored = static_cast<Member*>(storage_->nodes.allocate(count * sizeof(Member)));
        std::uninitialized_copy(members_.begin() + static_cast<std::ptrdiff_t>(base), members_.end(), stored);
        members_.resize(base);
    }
    out = Value::object(stored, count);
    return true;
}

// Orders the members above base by key bytes and keeps, of each key, the one
// that came last in the text.
void DocumentBuilder::sort_members(std::size_t base) {
    const auto first = members_.begin() + static_cast<std::ptrdiff_t>(base);
    const auto by_key = [](const Member& a, const Member& b) { return a.key < b.key; };
    if (members_.end() - first < 2) return;
    if (members_.end() - first <= 16) {
        // Insertion sort: stable and quickest for the small objects of records.
        for (auto it = first + 1; it != members_.end(); ++it) {
            Member moving = *it;
            auto hole = it;
            while (hole != first && by_key(moving, *(hole - 1))) {
                *hole = *(hole - 1);
                --hole;
            }
            *hole = moving;
        }
    } else {
        std::stable_sort(first, members_.end(), by_key);
    }
    // Stable order leaves repeated keys in text order: keep the last of each run.
    auto write = first;
    for (auto read = first; read != members_.end(); ++read) {
        if (read + 1 != members_.end() && read->key == (read + 1)->key) continue;
        *write++ = *read;
    }
    members_.erase(write, members_.end());
}

Result<Document, ReadError> parse_document(std::string_view text) { return DocumentBuilder(text).run(); }

}  // namespace ovra::json
