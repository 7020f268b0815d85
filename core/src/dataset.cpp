// Normalisation and bounds of a dataset: the stable order by ts of each
// series, and the time range and record count over all six.
#include "dataset.h"

#include <algorithm>
#include <limits>

namespace ovra {

namespace {

// Recorded series usually arrive in order already; checking first spares the
// stable sort its temporary buffer (as large as the series) in that case.
template <class Record>
void sort_by_ts(Series<Record>& records) {
    const auto by_ts = [](const Record& a, const Record& b) { return a.ts < b.ts; };
    if (std::is_sorted(records.begin(), records.end(), by_ts)) return;
    std::stable_sort(records.begin(), records.end(), by_ts);
}

template <class Record>
void widen_sorted_bounds(const Series<Record>& records, DatasetBounds& bounds) {
    if (records.empty()) return;
    bounds.from_ts = std::min(bounds.from_ts, records.front().ts);
    bounds.to_ts = std::max(bounds.to_ts, records.back().ts);
    bounds.count += records.size();
}

}  // namespace

std::size_t Dataset::record_count() const noexcept {
    return candles.size() + trades.size() + book.size() + funding.size() + oi.size() + liquidations.size();
}

std::size_t Dataset::memory_bytes() const noexcept {
    return candles.capacity() * sizeof(Candle) + trades.capacity() * sizeof(Trade) +
           book.capacity() * sizeof(BookEvent) + funding.capacity() * sizeof(FundingEvent) +
           oi.capacity() * sizeof(OiEvent) + liquidations.capacity() * sizeof(LiquidationEvent) +
           levels.capacity() * sizeof(BookLevel);
}

void sort_dataset(Dataset& dataset) {
    sort_by_ts(dataset.candles);
    sort_by_ts(dataset.trades);
    sort_by_ts(dataset.book);
    sort_by_ts(dataset.funding);
    sort_by_ts(dataset.oi);
    sort_by_ts(dataset.liquidations);
}

std::optional<DatasetBounds> sorted_dataset_bounds(const Dataset& dataset) {
    if (dataset.record_count() == 0) return std::nullopt;
    DatasetBounds bounds{std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min(), 0};
    widen_sorted_bounds(dataset.candles, bounds);
    widen_sorted_bounds(dataset.trades, bounds);
    widen_sorted_bounds(dataset.book, bounds);
    widen_sorted_bounds(dataset.funding, bounds);
    widen_sorted_bounds(dataset.oi, bounds);
    widen_sorted_bounds(dataset.liquidations, bounds);
    return bounds;
}

}  // namespace ovra
