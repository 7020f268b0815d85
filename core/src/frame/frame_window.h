// The records visible at a cursor: from_ts <= ts <= upper, each series in
// stable ts order. Panels read it only; it never refers to anything that
// changes during a frame.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "dataset.h"

namespace ovra {

// What the caller knows of the order of a dataset's series.
enum class SeriesOrder {
    Unknown,  // each series is checked, and copied and sorted if out of order
    Sorted,   // every series is in ts order (sort_dataset ran); not checked
};

struct FrameWindow {
    std::span<const Candle> candles;
    std::span<const Trade> trades;
    std::span<const BookEvent> book;
    std::span<const FundingEvent> funding;
    std::span<const OiEvent> oi;
    std::span<const LiquidationEvent> liquidations;
};

// A window together with whatever it had to copy. A series stored in ts
// order is seen through a span into the dataset (no copy); only a series
// that is out of order gets a stable-sorted copy of its visible records,
// owned here. Moving keeps the spans valid (a moved vector keeps its
// buffer); copying would not, so it is not allowed.
class SelectedWindow {
public:
    SelectedWindow() = default;
    SelectedWindow(SelectedWindow&&) = default;
    SelectedWindow& operator=(SelectedWindow&&) = default;
    SelectedWindow(const SelectedWindow&) = delete;
    SelectedWindow& operator=(const SelectedWindow&) = delete;

    const FrameWindow& view() const noexcept { return view_; }

private:
    friend SelectedWindow select_window(const Dataset&, std::optional<std::int64_t>, std::int64_t, SeriesOrder);

    FrameWindow view_;
    Dataset copies_;  // only the out-of-order series are filled
};

// Every record with from_ts <= ts <= upper (from_ts only when set), each
// series in ts order, records of equal ts in stored order. The dataset must
// outlive the returned window and stay unchanged while it is used.
SelectedWindow select_window(const Dataset& dataset, std::optional<std::int64_t> from_ts, std::int64_t upper,
                             SeriesOrder order = SeriesOrder::Unknown);

}  // namespace ovra
