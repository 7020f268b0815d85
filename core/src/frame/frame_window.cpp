// Cuts the frame window out of a dataset: spans into series stored in ts
// order, stable-sorted copies only for series that are not.
#include "frame/frame_window.h"

#include <algorithm>

namespace ovra {

namespace {

struct Bounds {
    std::optional<std::int64_t> from_ts;
    std::int64_t upper;

    bool contains(std::int64_t ts) const noexcept { return (!from_ts || *from_ts <= ts) && ts <= upper; }
};

template <class Record>
bool ts_ordered(const Series<Record>& records) noexcept {
    return std::is_sorted(records.begin(), records.end(),
                          [](const Record& a, const Record& b) { return a.ts < b.ts; });
}

// On a ts-ordered series the visible records are one contiguous run.
template <class Record>
std::span<const Record> ordered_run(const Series<Record>& records, const Bounds& bounds) {
    auto begin = records.begin();
    if (bounds.from_ts) {
        begin = std::partition_point(records.begin(), records.end(),
                                     [&](const Record& r) { return r.ts < *bounds.from_ts; });
    }
    auto end = std::partition_point(begin, records.end(), [&](const Record& r) { return r.ts <= bounds.upper; });
    return {begin, end};
}

// The visible records of a series out of ts order: copied in stored order,
// then stable-sorted, so equal ts keep their stored order.
template <class Record>
std::span<const Record> sorted_copy(const Series<Record>& records, const Bounds& bounds,
                                    Series<Record>& copy) {
    for (const Record& r : records) {
        if (bounds.contains(r.ts)) copy.push_back(r);
    }
    std::stable_sort(copy.begin(), copy.end(), [](const Record& a, const Record& b) { return a.ts < b.ts; });
    return copy;
}

template <class Record>
std::span<const Record> select_series(const Series<Record>& records, const Bounds& bounds, SeriesOrder order,
                                      Series<Record>& copy) {
    if (order == SeriesOrder::Sorted || ts_ordered(records)) return ordered_run(records, bounds);
    return sorted_copy(records, bounds, copy);
}

}  // namespace

SelectedWindow select_window(const Dataset& dataset, std::optional<std::int64_t> from_ts, std::int64_t upper,
                             SeriesOrder order) {
    const Bounds bounds{from_ts, upper};
    SelectedWindow window;
    Dataset& copies = window.copies_;
    FrameWindow& view = window.view_;
    view.candles = select_series(dataset.candles, bounds, order, copies.candles);
    view.trades = select_series(dataset.trades, bounds, order, copies.trades);
    view.book = select_series(dataset.book, bounds, order, copies.book);
    view.funding = select_series(dataset.funding, bounds, order, copies.funding);
    view.oi = select_series(dataset.oi, bounds, order, copies.oi);
    view.liquidations = select_series(dataset.liquidations, bounds, order, copies.liquidations);
    return window;
}

}  // namespace ovra
