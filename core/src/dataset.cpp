#include "dataset.h"

#include <algorithm>
#include <limits>

namespace ovra {

namespace {

template <class Record>
void sort_by_ts(std::vector<Record>& records) {
    std::stable_sort(records.begin(), records.end(),
                     [](const Record& a, const Record& b) { return a.ts < b.ts; });
}

template <class Record>
void widen_bounds(const std::vector<Record>& records, DatasetBounds& bounds) {
    for (const Record& r : records) {
        bounds.from_ts = std::min(bounds.from_ts, r.ts);
        bounds.to_ts = std::max(bounds.to_ts, r.ts);
    }
    bounds.count += records.size();
}

}  // namespace

std::size_t Dataset::record_count() const noexcept {
    return candles.size() + trades.size() + book.size() + funding.size() + oi.size() + liquidations.size();
}

void sort_dataset(Dataset& dataset) {
    sort_by_ts(dataset.candles);
    sort_by_ts(dataset.trades);
    sort_by_ts(dataset.book);
    sort_by_ts(dataset.funding);
    sort_by_ts(dataset.oi);
    sort_by_ts(dataset.liquidations);
}

std::optional<DatasetBounds> dataset_bounds(const Dataset& dataset) {
    if (dataset.record_count() == 0) return std::nullopt;
    DatasetBounds bounds{std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min(), 0};
    widen_bounds(dataset.candles, bounds);
    widen_bounds(dataset.trades, bounds);
    widen_bounds(dataset.book, bounds);
    widen_bounds(dataset.funding, bounds);
    widen_bounds(dataset.oi, bounds);
    widen_bounds(dataset.liquidations, bounds);
    return bounds;
}

}  // namespace ovra
