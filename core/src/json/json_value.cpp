#include "json/json_value.h"

#include <algorithm>

namespace ovra::json {

const Value* Value::find(std::string_view key) const noexcept {
    if (kind_ != Kind::Object) return nullptr;
    auto members = as_object();
    auto it = std::lower_bound(members.begin(), members.end(), key,
                               [](const Member& m, std::string_view k) { return m.key < k; });
    if (it == members.end() || it->key != key) return nullptr;
    return &it->value;
}

Value Value::boolean(bool b) noexcept {
    Value v;
    v.kind_ = Kind::Bool;
    v.payload_.b = b;
    return v;
}

Value Value::pos_int(std::uint64_t u) noexcept {
    Value v;
    v.kind_ = Kind::PosInt;
    v.payload_.u = u;
    return v;
}

Value Value::neg_int(std::int64_t i) noexcept {
    Value v;
    v.kind_ = Kind::NegInt;
    v.payload_.i = i;
    return v;
}

Value Value::floating(double f) noexcept {
    Value v;
    v.kind_ = Kind::Float;
    v.payload_.f = f;
    return v;
}

Value Value::string(const char* data, std::uint32_t size) noexcept {
    Value v;
    v.kind_ = Kind::String;
    v.size_ = size;
    v.payload_.s = data;
    return v;
}

Value Value::array(const Value* items, std::uint32_t size) noexcept {
    Value v;
    v.kind_ = Kind::Array;
    v.size_ = size;
    v.payload_.a = items;
    return v;
}

Value Value::object(const Member* members, std::uint32_t size) noexcept {
    Value v;
    v.kind_ = Kind::Object;
    v.size_ = size;
    v.payload_.m = members;
    return v;
}

}  // namespace ovra::json
