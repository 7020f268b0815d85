// The records visible at a cursor: from_ts <= ts <= upper, each series in
// stable ts order. Panels read it only; it never refers to anything that
// changes during a frame.
#pragma once

#include <span>

#include "dataset.h"

namespace ovra {

struct FrameWindow {
    std::span<const Candle> candles;
    std::span<const Trade> trades;
    std::span<const BookEvent> book;
    std::span<const FundingEvent> funding;
    std::span<const OiEvent> oi;
    std::span<const LiquidationEvent> liquidations;
};

}  // namespace ovra
