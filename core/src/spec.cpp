#include "spec.h"

namespace ovra {

const char* panel_kind_name(std::size_t variant_index) noexcept {
    static const char* const kNames[] = {"footprint", "book_heatmap", "liquidation_map", "funding_oi_divergence"};
    return variant_index < 4 ? kNames[variant_index] : "";
}

}  // namespace ovra
