// The spec of one handle: symbol, optional window and an ordered panel list.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace ovra {

// One configured panel; the alternatives are in the order of the JSON tag
// list ("footprint", "book_heatmap", "liquidation_map", "funding_oi_divergence").
struct OvraPanel {
    struct Footprint {
        double price_bin = 1.0;
        std::int64_t bucket_ms = 60000;
    };
    struct BookHeatmap {
        double price_bin = 1.0;
        std::int64_t bucket_ms = 60000;
        std::uint32_t depth_levels = 40;
    };
    struct LiquidationMap {
        double price_bin = 1.0;
    };
    struct FundingOiDivergence {
        std::int64_t bucket_ms = 60000;
    };

    std::variant<Footprint, BookHeatmap, LiquidationMap, FundingOiDivergence> config;
};

// The JSON tag of a panel kind, by variant index.
const char* panel_kind_name(std::size_t variant_index) noexcept;

struct OvraSpec {
    std::string dataset_ref;
    std::string symbol;
    std::optional<std::int64_t> from_ts;
    std::optional<std::int64_t> to_ts;
    std::vector<OvraPanel> panels;
};

}  // namespace ovra
