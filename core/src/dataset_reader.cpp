// Converts the parsed "dataset" member of a "load" command into a Dataset in
// one pass over the tree; the first failing member or element ends it.
#include "dataset_reader.h"

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "json/unexpected.h"
#include "record_readers.h"

namespace ovra {

namespace {

// Elements are converted straight into their final slot: the series holds
// exactly as many records as the array has elements, and nothing is moved.
template <class Record, class... Context>
ReadResult read_series(const json::Value& value, Series<Record>& out, Context&... context) {
    if (value.kind() != json::Kind::Array) return fail(json::invalid_type(value, "a sequence"));
    const auto items = value.as_array();
    out.reserve(items.size());
    for (const json::Value& item : items) {
        out.emplace_back();
        if (auto record = read_record(item, out.back(), context...); !record) return record;
    }
    return Ok{};
}

// Book events view their levels in one pool, which must not move while they
// are read: it is given room for every level of the member first.
ReadResult read_book(const json::Value& value, Dataset& out) {
    out.levels.reserve(book_level_count(value));
    return read_series(value, out.book, out.levels);
}

// The six series in declaration order, which is also the array form's order.
constexpr std::array<std::string_view, 6> kSeriesNames{"candles", "trades", "book", "funding", "oi", "liquidations"};

ReadResult read_series_at(std::size_t index, const json::Value& value, Dataset& out) {
    switch (index) {
        case 0: return read_series(value, out.candles);
        case 1: return read_series(value, out.trades);
        case 2: return read_book(value, out);
        case 3: return read_series(value, out.funding);
        case 4: return read_series(value, out.oi);
        default: return read_series(value, out.liquidations);
    }
}

// Members in key order (so "book" is checked before "candles"); absent series
// stay empty, unknown keys are skipped.
ReadResult read_object_form(std::span<const json::Member> members, Dataset& out) {
    for (const json::Member& member : members) {
        for (std::size_t i = 0; i < kSeriesNames.size(); ++i) {
            if (member.key != kSeriesNames[i]) continue;
            if (auto series = read_series_at(i, member.value, out); !series) return series;
            break;
        }
    }
    return Ok{};
}

// A shorter array leaves the later series empty; surplus elements are
// reported only once the six series have been read.
ReadResult read_array_form(std::span<const json::Value> items, Dataset& out) {
    const std::size_t given = items.size() < kSeriesNames.size() ? items.size() : kSeriesNames.size();
    for (std::size_t i = 0; i < given; ++i) {
        if (auto series = read_series_at(i, items[i], out); !series) return series;
    }
    if (items.size() > kSeriesNames.size()) {
        return fail(json::too_many_elements(items.size()));
    }
    return Ok{};
}

}  // namespace

Result<Dataset, std::string> dataset_from_json_value(const json::Value& value) {
    Dataset dataset;
    ReadResult read = Ok{};
    switch (value.kind()) {
        case json::Kind::Object: read = read_object_form(value.as_object(), dataset); break;
        case json::Kind::Array: read = read_array_form(value.as_array(), dataset); break;
        default: return fail(json::invalid_type(value, "struct Dataset"));
    }
    if (!read) return fail(std::move(read).error());
    return dataset;
}

}  // namespace ovra
