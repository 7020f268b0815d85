// Field conversions of the dataset records: the messages for refused values,
// the enumeration forms and book levels. Never keeps a reference into the tree.
#include "dataset_fields.h"

#include "json/unexpected.h"

namespace ovra {

namespace detail {

ReadResult ts_error(const json::Value& value) {
    // Only the non-negative integers above i64 are a wrong value; a float
    // (fraction, exponent, or beyond the parser's integer range) is a wrong type.
    if (value.kind() == json::Kind::PosInt) return fail(json::invalid_value(value, "i64"));
    return fail(json::invalid_type(value, "i64"));
}

ReadResult f64_error(const json::Value& value) { return fail(json::invalid_type(value, "f64")); }

}  // namespace detail

namespace {

// The two JSON words of an enumeration, in declaration order.
struct EnumWords {
    std::string_view first;
    std::string_view second;
    std::string_view alternatives;  // as the "unknown variant" message lists them
};

constexpr EnumWords kTradeSideWords{"buy", "sell", "`buy` or `sell`"};
constexpr EnumWords kBookEventKindWords{"snapshot", "diff", "`snapshot` or `diff`"};
constexpr EnumWords kLiquidationSideWords{"long", "short", "`long` or `short`"};

// 0 or 1 for the first or second word; the word is compared byte for byte.
Result<int, std::string> match_word(std::string_view word, const EnumWords& words) {
    if (word == words.first) return 0;
    if (word == words.second) return 1;
    // The word goes into the message as written, without any quoting.
    std::string message = "unknown variant `";
    message += word;
    message += "`, expected ";
    message += words.alternatives;
    return fail(std::move(message));
}

// The variant's word is checked before the unit value that an object form
// carries, so an unknown key wins over a non-null value.
Result<int, std::string> read_word(const json::Value& value, const EnumWords& words) {
    if (value.kind() == json::Kind::String) return match_word(value.as_string(), words);
    if (value.kind() != json::Kind::Object) return fail(json::invalid_type(value, "string or map"));
    const auto members = value.as_object();
    if (members.size() != 1) return fail(std::string("invalid value: map, expected map with a single key"));
    auto index = match_word(members[0].key, words);
    if (!index) return index;
    if (!members[0].value.is_null()) return fail(json::invalid_type(members[0].value, "unit"));
    return index;
}

template <class Enum>
ReadResult read_enum_as(const json::Value& value, const EnumWords& words, Enum first, Enum second, Enum& out) {
    auto index = read_word(value, words);
    if (!index) return fail(std::move(index).error());
    out = index.value() == 0 ? first : second;
    return Ok{};
}

// One level: a JSON array of exactly two numbers. A short array is reported
// with the count of elements read, after the type of those elements.
ReadResult read_level(const json::Value& value, BookLevel& out) {
    if (value.kind() != json::Kind::Array) return fail(json::invalid_type(value, "an array of length 2"));
    const auto items = value.as_array();
    if (items.empty()) return fail(json::invalid_length(0, "an array of length 2"));
    if (auto price = read_f64(items[0], out.price); !price) return price;
    if (items.size() == 1) return fail(json::invalid_length(1, "an array of length 2"));
    if (auto qty = read_f64(items[1], out.qty); !qty) return qty;
    if (items.size() > 2) return fail(json::too_many_elements(items.size()));
    return Ok{};
}

}  // namespace

ReadResult read_enum(const json::Value& value, TradeSide& out) {
    return read_enum_as(value, kTradeSideWords, TradeSide::Buy, TradeSide::Sell, out);
}

ReadResult read_enum(const json::Value& value, BookEventKind& out) {
    return read_enum_as(value, kBookEventKindWords, BookEventKind::Snapshot, BookEventKind::Diff, out);
}

ReadResult read_enum(const json::Value& value, LiquidationSide& out) {
    return read_enum_as(value, kLiquidationSideWords, LiquidationSide::Long, LiquidationSide::Short, out);
}

ReadResult read_levels(const json::Value& value, Series<BookLevel>& pool, std::span<const BookLevel>& out) {
    if (value.kind() != json::Kind::Array) return fail(json::invalid_type(value, "a sequence"));
    const auto items = value.as_array();
    const std::size_t begin = pool.size();
    pool.resize(begin + items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (auto level = read_level(items[i], pool[begin + i]); !level) return level;
    }
    out = std::span<const BookLevel>(pool.data() + begin, items.size());
    return Ok{};
}

}  // namespace ovra
