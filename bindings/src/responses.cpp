// Every response but the frame, byte for byte: compact, keys in fixed order,
// integers in plain decimal, the error text with minimal escaping.
#include "responses.h"

#include "json/json_writer.h"

namespace ovra {

std::string ok_response() { return "{\"ok\":true}"; }

std::string loaded_response(std::uint64_t count) {
    json::JsonWriter w;
    w.raw("{\"ok\":true,\"loaded\":");
    w.u64(count);
    w.raw('}');
    return w.take();
}

std::string bounds_response(const DatasetBounds& bounds) {
    json::JsonWriter w;
    w.raw("{\"from_ts\":");
    w.i64(bounds.from_ts);
    w.raw(",\"to_ts\":");
    w.i64(bounds.to_ts);
    w.raw(",\"count\":");
    w.u64(bounds.count);
    w.raw('}');
    return w.take();
}

std::string version_response() { return std::string("{\"version\":\"") + kVersion + "\"}"; }

std::string error_response(const OvraError& error) {
    json::JsonWriter w;
    w.raw("{\"ok\":false,\"error\":");
    w.string(error.display());
    w.raw('}');
    return w.take();
}

}  // namespace ovra
