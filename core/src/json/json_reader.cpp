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
#include "json/value_grammar.h"

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
        if (!read_value(scanner_, *this, root)) return fail(scanner_.read_error());
        if (scanner_.skip_whitespace() != Scanner::kEnd) {
            scanner_.fail_at_peek(SyntaxCode::TrailingCharacters);
            return fail(scanner_.read_error());
        }
        Document document;
        document.root_ = root;
        document.storage_ = std::move(storage_);
        return document;
    }

    // Handler of read_value: children wait on the stacks until their container closes.
    using Out = Value;
    using Mark = std::size_t;  // stack height when the container opened

    Value scalar(const Value& value) {
        if (value.kind() != Kind::String) return value;
        const std::string_view text = value.as_string();
        return Value::string(store_bytes(text), text.size());
    }
    Mark open_array() const noexcept { return values_.size(); }
    void element(Mark, Value&& value) { values_.push_back(value); }
    Value close_array(Mark base);
    Mark open_object() const noexcept { return members_.size(); }
    void key(Mark, std::string_view key) { members_.push_back(Member{store_key(key), Value()}); }
    void member(Mark, Value&& value) { members_.back().value = value; }
    Value close_object(Mark base);

private:
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

Value DocumentBuilder::close_array(Mark base) {
    const std::size_t count = values_.size() - base;
    Value* items = nullptr;
    if (count != 0) {
        items = static_cast<Value*>(storage_->nodes.allocate(count * sizeof(Value)));
        std::copy(values_.begin() + static_cast<std::ptrdiff_t>(base), values_.end(), items);
        values_.resize(base);
    }
    return Value::array(items, count);
}

Value DocumentBuilder::close_object(Mark base) {
    sort_members(base);
    const std::size_t count = members_.size() - base;
    Member* stored = nullptr;
    if (count != 0) {
        stored = static_cast<Member*>(storage_->nodes.allocate(count * sizeof(Member)));
        std::uninitialized_copy(members_.begin() + static_cast<std::ptrdiff_t>(base), members_.end(), stored);
        members_.resize(base);
    }
    return Value::object(stored, count);
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
