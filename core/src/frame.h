// The computed frame: symbol, effective cursor and one PanelData per panel
// of the spec, in spec order. Owned by the caller until it is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "dataset.h"

namespace ovra {

struct LiquidationMapEvent {
    std::int64_t ts;
    double price_bin;
    double qty;
    LiquidationSide side;
};

struct PanelData {
    struct Footprint {
        std::vector<double> price_bins;
        std::vector<double> buy_vol;
        std::vector<double> sell_vol;
    };
    struct BookHeatmap {
        std::vector<std::int64_t> time;
        std::vector<double> price;
        // Row-major grid of time.size() rows with row_length cells each
        // (row_length is depth_levels; the grid is empty when time is).
        std::vector<double> intensity;
        std::size_t row_length = 0;
    };
    struct LiquidationMap {
        std::vector<LiquidationMapEvent> events;
    };
    struct FundingOiDivergence {
        std::vector<std::int64_t> time;
        std::vector<double> funding;
        std::vector<double> oi;
        std::vector<double> price;
    };

    std::variant<Footprint, BookHeatmap, LiquidationMap, FundingOiDivergence> data;
};

struct Frame {
    std::string symbol;
    std::int64_t cursor_ts = 0;
    std::vector<PanelData> panels;
};

}  // namespace ovra
