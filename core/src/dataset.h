// The market dataset of one instrument: six record series, each a plain
// contiguous array of small structs (a Series), ordered by ts after
// sort_dataset, and one contiguous array holding the price levels of every
// book event.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "series.h"

namespace ovra {

enum class TradeSide : std::uint8_t { Buy, Sell };
enum class BookEventKind : std::uint8_t { Snapshot, Diff };
enum class LiquidationSide : std::uint8_t { Long, Short };

struct Candle {
    std::int64_t ts;
    double open;
    double high;
    double low;
    double close;
    double volume;
};

struct Trade {
    std::int64_t ts;
    double price;
    double qty;
    TradeSide side;
};

struct BookLevel {
    double price;
    double qty;
};

// The levels of an event are views into the `levels` array of the dataset
// that holds the event; they stay valid while that dataset lives, also when
// it is moved (a moved series keeps its pages).
struct BookEvent {
    std::int64_t ts;
    BookEventKind kind;
    std::span<const BookLevel> bids;
    std::span<const BookLevel> asks;
};

struct FundingEvent {
    std::int64_t ts;
    double rate;
};

struct OiEvent {
    std::int64_t ts;
    double oi;
};

struct LiquidationEvent {
    std::int64_t ts;
    double price;
    double qty;
    LiquidationSide side;
};

// Move-only: a copy's book events would still look into the original's
// level array.
struct Dataset {
    Series<Candle> candles;
    Series<Trade> trades;
    Series<BookEvent> book;
    Series<FundingEvent> funding;
    Series<OiEvent> oi;
    Series<LiquidationEvent> liquidations;
    // Every level of every book event, each event's bids and asks one run
    // each; sorting the events by ts leaves this array as it is.
    Series<BookLevel> levels;

    Dataset() = default;
    Dataset(Dataset&&) noexcept = default;
    Dataset& operator=(Dataset&&) noexcept = default;
    Dataset(const Dataset&) = delete;
    Dataset& operator=(const Dataset&) = delete;

    std::size_t record_count() const noexcept;
    // Bytes held by the records and levels (capacity, not counting the
    // series' own headers): what a cache may measure itself against.
    std::size_t memory_bytes() const noexcept;
};

struct DatasetBounds {
    std::int64_t from_ts;
    std::int64_t to_ts;
    std::uint64_t count;
};

// Stable ascending sort of each series by ts; level lists are not touched.
void sort_dataset(Dataset& dataset);

// Smallest and largest ts and the record count over all six series of a
// dataset that sort_dataset has ordered; absent for a dataset without
// records. Each series' first and last records hold its smallest and largest
// ts, so no record between them is read.
std::optional<DatasetBounds> sorted_dataset_bounds(const Dataset& dataset);

}  // namespace ovra
