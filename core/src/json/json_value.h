// The parsed JSON value tree of a command text. Objects behave as maps
// ordered by key bytes, each key once (a later repetition in the text wins).
// Values are small handles into storage owned by their Document; they are
// trivially destructible and never outlive it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace ovra::json {

// Number kinds follow the reader's rules: a non-negative integer that fits
// u64 is PosInt, a negative one that fits i64 is NegInt; "-0", fractions,
// exponents and integers beyond those ranges are Float.
enum class Kind : std::uint8_t { Null, Bool, PosInt, NegInt, Float, String, Array, Object };

struct Member;

class Value {
public:
    Value() noexcept : tag_(0) { payload_.u = 0; }

    Kind kind() const noexcept { return static_cast<Kind>(tag_ & 0xFF); }
    bool is_null() const noexcept { return kind() == Kind::Null; }

    // Accessors assume the matching kind.
    bool as_bool() const noexcept { return payload_.b; }
    std::uint64_t as_pos_int() const noexcept { return payload_.u; }
    std::int64_t as_neg_int() const noexcept { return payload_.i; }
    double as_float() const noexcept { return payload_.f; }
    std::string_view as_string() const noexcept { return {payload_.s, size()}; }
    std::span<const Value> as_array() const noexcept { return {payload_.a, size()}; }
    // Members in ascending byte order of their keys, each key once.
    std::span<const Member> as_object() const noexcept;

    // Member lookup on an object; nullptr when absent or when this is not an object.
    const Value* find(std::string_view key) const noexcept;

    static Value null() noexcept { return Value(); }
    static Value boolean(bool b) noexcept;
    static Value pos_int(std::uint64_t u) noexcept;
    static Value neg_int(std::int64_t i) noexcept;
    static Value floating(double f) noexcept;
    // The referenced storage must outlive the value (normally a Document's arena).
    static Value string(const char* data, std::size_t size) noexcept;
    static Value array(const Value* items, std::size_t size) noexcept;
    static Value object(const Member* members, std::size_t size) noexcept;

private:
    Value(Kind kind, std::size_t size) noexcept : tag_(static_cast<std::uint64_t>(size) << 8 | static_cast<std::uint8_t>(kind)) {}
    std::size_t size() const noexcept { return static_cast<std::size_t>(tag_ >> 8); }

    // Kind in the low byte, the count above it (string bytes, array elements
    // or object members): 16 bytes per value with no 4 GiB cap on a string.
    std::uint64_t tag_;
    union {
        bool b;
        std::uint64_t u;
        std::int64_t i;
        double f;
        const char* s;
        const Value* a;
        const Member* m;
    } payload_;
};

struct Member {
    std::string_view key;
    Value value;
};

inline std::span<const Member> Value::as_object() const noexcept { return {payload_.m, size()}; }

// Owns the storage of one parsed tree.
class Document {
public:
    Document();
    Document(Document&&) noexcept;
    Document& operator=(Document&&) noexcept;
    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    const Value& root() const noexcept { return root_; }

    struct Storage;  // defined by the reader

private:
    friend class DocumentBuilder;
    Value root_;
    std::unique_ptr<Storage> storage_;
};

}  // namespace ovra::json
