// The liquidation marks of every stored liquidation for one price_bin,
// written once: a window's "events" list is a slice of that text.
//
// A window is a run of whole ts groups of the ts-ordered series (its bounds
// are times, both inclusive), and the marks are ordered by ts first, so the
// marks of a window are the marks of the whole series from the window's
// first position to its last, in the same order.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "dataset.h"

namespace ovra {

class LiquidationText {
public:
    // `liquidations` sorted by ts; read here only.
    LiquidationText(std::span<const LiquidationEvent> liquidations, double price_bin);

    // Appends the panel object ({"kind":"liquidation_map",...}) of the
    // liquidations [first, last): byte for byte the frame writer's text of
    // compute_liquidation_map over them.
    void append_panel(std::size_t first, std::size_t last, std::string& out) const;

    std::size_t memory_bytes() const noexcept;

private:
    std::string marks_;                // every mark's object followed by ','
    std::vector<std::size_t> begins_;  // where mark k begins; one more at the end
};

}  // namespace ovra
