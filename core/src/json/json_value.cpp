// Value construction and member lookup of the parsed JSON tree.
#include "json/json_value.h"

#include <algorithm>

namespace ovra::json {

const Value* Value::find(std::string_view key) const noexcept {
    if (kind() != Kind::Object) return nullptr;
    auto members = as_object();
    auto it = std::lower_bound(members.begin(), members.end(), key,
                               [](const Member& m, std::string_view k) { return m.key < k; });
    if (it == members.end() || it->key != key) return nullptr;
    return &it->value;
}

Value Value::boolean(bool b) noexcept {
    Value v(Kind::Bool, 0);
    v.payload_.u = 0;
    v.payload_.b = b;
    return v;
}

Value Value::pos_int(std::uint64_t u) noexcept {
    Value v(Kind::PosInt, 0);
    v.payload_.u = u;
    return v;
}

Value Value::neg_int(std::int64_t i) noexcept {
    Value v(Kind::NegInt, 0);
    v.payload_.i = i;
    return v;
}

Value Value::floating(double f) noexcept {
    Value v(Kind::Float, 0);
    v.payload_.f = f;
    return v;
}

Value Value::string(const char* data, std::size_t size) noexcept {
    Value v(Kind::String, size);
    v.payload_.s = data;
    return v;
}

Value Value::array(const Value* items, std::size_t size) noexcept {
    Value v(Kind::Array, size);
    v.payload_.a = items;
    return v;
}

Value Value::object(const Member* members, std::size_t size) noexcept {
    Value v(Kind::Object, size);
    v.payload_.m = members;
    return v;
}

}  // namespace ovra::json
