// The six record shapes (names, field order, messages) and the one generic
// reader of their object and array forms.
#include "record_readers.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "json/unexpected.h"

namespace ovra {

namespace {

// Per record: the type text of "invalid type", the length text of a short
// array, the field names in declaration order, and the reader of field i.
// `Context` is what a field reader needs besides the value: the level pool
// for a book event, nothing for the others.
struct NoContext {};

template <class Record>
struct RecordShape;

template <>
struct RecordShape<Candle> {
    static constexpr std::string_view type_text = "struct Candle";
    static constexpr std::string_view length_text = "struct Candle with 6 elements";
    static constexpr std::array<std::string_view, 6> fields{"ts", "open", "high", "low", "close", "volume"};
    static ReadResult read_field(std::size_t index, const json::Value& v, Candle& r, NoContext) {
        switch (index) {
            case 0: return read_ts(v, r.ts);
            case 1: return read_f64(v, r.open);
            case 2: return read_f64(v, r.high);
            case 3: return read_f64(v, r.low);
            case 4: return read_f64(v, r.close);
            default: return read_f64(v, r.volume);
        }
    }
};

template <>
struct RecordShape<Trade> {
    static constexpr std::string_view type_text = "struct Trade";
    static constexpr std::string_view length_text = "struct Trade with 4 elements";
    static constexpr std::array<std::string_view, 4> fields{"ts", "price", "qty", "side"};
    static ReadResult read_field(std::size_t index, const json::Value& v, Trade& r, NoContext) {
        switch (index) {
            case 0: return read_ts(v, r.ts);
            case 1: return read_f64(v, r.price);
            case 2: return read_f64(v, r.qty);
            default: return read_enum(v, r.side);
        }
    }
};

template <>
struct RecordShape<BookEvent> {
    static constexpr std::string_view type_text = "struct BookEvent";
    static constexpr std::string_view length_text = "struct BookEvent with 4 elements";
    static constexpr std::array<std::string_view, 4> fields{"ts", "kind", "bids", "asks"};
    static ReadResult read_field(std::size_t index, const json::Value& v, BookEvent& r,
                                 Series<BookLevel>& pool) {
        switch (index) {
            case 0: return read_ts(v, r.ts);
            case 1: return read_enum(v, r.kind);
            case 2: return read_levels(v, pool, r.bids);
            default: return read_levels(v, pool, r.asks);
        }
    }
};

template <>
struct RecordShape<FundingEvent> {
    static constexpr std::string_view type_text = "struct FundingEvent";
    static constexpr std::string_view length_text = "struct FundingEvent with 2 elements";
    static constexpr std::array<std::string_view, 2> fields{"ts", "rate"};
    static ReadResult read_field(std::size_t index, const json::Value& v, FundingEvent& r, NoContext) {
        return index == 0 ? read_ts(v, r.ts) : read_f64(v, r.rate);
    }
};

template <>
struct RecordShape<OiEvent> {
    static constexpr std::string_view type_text = "struct OiEvent";
    static constexpr std::string_view length_text = "struct OiEvent with 2 elements";
    static constexpr std::array<std::string_view, 2> fields{"ts", "oi"};
    static ReadResult read_field(std::size_t index, const json::Value& v, OiEvent& r, NoContext) {
        return index == 0 ? read_ts(v, r.ts) : read_f64(v, r.oi);
    }
};

template <>
struct RecordShape<LiquidationEvent> {
    static constexpr std::string_view type_text = "struct LiquidationEvent";
    static constexpr std::string_view length_text = "struct LiquidationEvent with 4 elements";
    static constexpr std::array<std::string_view, 4> fields{"ts", "price", "qty", "side"};
    static ReadResult read_field(std::size_t index, const json::Value& v, LiquidationEvent& r, NoContext) {
        switch (index) {
            case 0: return read_ts(v, r.ts);
            case 1: return read_f64(v, r.price);
            case 2: return read_f64(v, r.qty);
            default: return read_enum(v, r.side);
        }
    }
};

// Fields by position. Surplus elements are found only after every field has
// been read, so a wrong field among the first ones is reported before them.
template <class Record, class Context>
ReadResult read_array_form(std::span<const json::Value> items, Record& out, Context&& context) {
    using Shape = RecordShape<Record>;
    constexpr std::size_t field_count = Shape::fields.size();
    const std::size_t given = items.size() < field_count ? items.size() : field_count;
    for (std::size_t i = 0; i < given; ++i) {
        if (auto field = Shape::read_field(i, items[i], out, context); !field) return field;
    }
    if (items.size() < field_count) return fail(json::invalid_length(items.size(), Shape::length_text));
    if (items.size() > field_count) return fail(json::too_many_elements(items.size()));
    return Ok{};
}

// Fields by key, visited in the map's key order, so of several wrong members
// the one whose key sorts first is reported; unknown keys are skipped. Missing
// fields are reported afterwards, the first in declaration order.
template <class Record, class Context>
ReadResult read_object_form(std::span<const json::Member> members, Record& out, Context&& context) {
    using Shape = RecordShape<Record>;
    std::uint32_t seen = 0;
    for (const json::Member& member : members) {
        for (std::size_t i = 0; i < Shape::fields.size(); ++i) {
            if (member.key != Shape::fields[i]) continue;
            if (auto field = Shape::read_field(i, member.value, out, context); !field) return field;
            seen |= std::uint32_t{1} << i;
            break;
        }
    }
    for (std::size_t i = 0; i < Shape::fields.size(); ++i) {
        if ((seen & (std::uint32_t{1} << i)) == 0) return fail(json::missing_field(Shape::fields[i]));
    }
    return Ok{};
}

template <class Record, class Context = NoContext>
ReadResult read_any_form(const json::Value& value, Record& out, Context&& context = NoContext{}) {
    switch (value.kind()) {
        case json::Kind::Array: return read_array_form(value.as_array(), out, context);
        case json::Kind::Object: return read_object_form(value.as_object(), out, context);
        default: return fail(json::invalid_type(value, RecordShape<Record>::type_text));
    }
}

}  // namespace

ReadResult read_record(const json::Value& value, Candle& out) { return read_any_form(value, out); }
ReadResult read_record(const json::Value& value, Trade& out) { return read_any_form(value, out); }
ReadResult read_record(const json::Value& value, BookEvent& out, Series<BookLevel>& level_pool) {
    return read_any_form(value, out, level_pool);
}
ReadResult read_record(const json::Value& value, FundingEvent& out) { return read_any_form(value, out); }
ReadResult read_record(const json::Value& value, OiEvent& out) { return read_any_form(value, out); }
ReadResult read_record(const json::Value& value, LiquidationEvent& out) { return read_any_form(value, out); }

namespace {

std::size_t array_size(const json::Value* value) noexcept {
    return value != nullptr && value->kind() == json::Kind::Array ? value->as_array().size() : 0;
}

}  // namespace

std::size_t book_level_count(const json::Value& events) noexcept {
    if (events.kind() != json::Kind::Array) return 0;
    std::size_t count = 0;
    for (const json::Value& event : events.as_array()) {
        if (event.kind() == json::Kind::Array) {
            const auto fields = event.as_array();
            for (std::size_t i = 2; i < fields.size() && i < 4; ++i) count += array_size(&fields[i]);
        } else if (event.kind() == json::Kind::Object) {
            count += array_size(event.find("bids")) + array_size(event.find("asks"));
        }
    }
    return count;
}

}  // namespace ovra
