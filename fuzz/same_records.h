// Record-by-record, bit-for-bit comparison of two datasets: the check of
// the direct load road against the tree road (fuzz target and test driver).
#pragma once

#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include "dataset.h"
#include "dataset_reader.h"
#include "json/json_reader.h"

namespace ovra::check {

inline bool same_double(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

inline bool same_levels(std::span<const BookLevel> a, std::span<const BookLevel> b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!same_double(a[i].price, b[i].price) || !same_double(a[i].qty, b[i].qty)) return false;
    }
    return true;
}

template <class Record, class Same>
bool same_series(const Series<Record>& a, const Series<Record>& b, Same same) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].ts != b[i].ts || !same(a[i], b[i])) return false;
    }
    return true;
}

// The name of the first series that differs, or nullptr when both hold the
// same records in the same order.
inline const char* first_difference(const Dataset& a, const Dataset& b) {
    if (!same_series(a.candles, b.candles, [](const Candle& x, const Candle& y) {
            return same_double(x.open, y.open) && same_double(x.high, y.high) && same_double(x.low, y.low) &&
                   same_double(x.close, y.close) && same_double(x.volume, y.volume);
        })) {
        return "candles";
    }
    if (!same_series(a.trades, b.trades, [](const Trade& x, const Trade& y) {
            return same_double(x.price, y.price) && same_double(x.qty, y.qty) && x.side == y.side;
        })) {
        return "trades";
    }
    if (!same_series(a.book, b.book, [](const BookEvent& x, const BookEvent& y) {
            return x.kind == y.kind && same_levels(x.bids, y.bids) && same_levels(x.asks, y.asks);
        })) {
        return "book";
    }
    if (!same_series(a.funding, b.funding,
                     [](const FundingEvent& x, const FundingEvent& y) { return same_double(x.rate, y.rate); })) {
        return "funding";
    }
    if (!same_series(a.oi, b.oi, [](const OiEvent& x, const OiEvent& y) { return same_double(x.oi, y.oi); })) {
        return "oi";
    }
    if (!same_series(a.liquidations, b.liquidations, [](const LiquidationEvent& x, const LiquidationEvent& y) {
            return same_double(x.price, y.price) && same_double(x.qty, y.qty) && x.side == y.side;
        })) {
        return "liquidations";
    }
    return nullptr;
}

// The tree road's dataset of a whole dataset text, or of the "dataset"
// member of a command text; nullopt when that road refuses it.
inline std::optional<Dataset> tree_dataset(std::string_view text, bool command) {
    auto parsed = json::parse_document(text);
    if (!parsed) return std::nullopt;
    const json::Value* value = &parsed.value().root();
    if (command) {
        value = value->find("dataset");
        if (value == nullptr) return std::nullopt;
    }
    auto converted = dataset_from_json_value(*value);
    if (!converted) return std::nullopt;
    return std::move(converted).value();
}

}  // namespace ovra::check
