// Footprint: buy and sell volume per price bin over the window's trades.
#include "panels/footprint.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "numeric.h"

namespace ovra {

namespace {

struct Bin {
    std::int64_t key;  // total_order_key(edge)
    double edge;
    double buy;
    double sell;
};

}  // namespace

PanelData::Footprint compute_footprint(const OvraPanel::Footprint& panel, const FrameWindow& window) {
    PanelData::Footprint out;
    if (window.trades.empty()) return out;

    // Bins in order of first appearance, found through a hash of the edge's
    // total-order key; sorted by that key once at the end. Each bin's sums
    // are still plain additions in window order.
    std::vector<Bin> bins;
    std::unordered_map<std::int64_t, std::size_t> index;
    std::size_t last = 0;  // consecutive trades usually share a bin
    for (const Trade& trade : window.trades) {
        const double edge = bin_edge(trade.price, panel.price_bin);
        const std::int64_t key = total_order_key(edge);
        if (bins.empty() || bins[last].key != key) {
            auto [it, inserted] = index.try_emplace(key, bins.size());
            if (inserted) bins.push_back(Bin{key, edge, 0.0, 0.0});
            last = it->second;
        }
        Bin& bin = bins[last];
        if (trade.side == TradeSide::Buy) {
            bin.buy += trade.qty;
        } else {
            bin.sell += trade.qty;
        }
    }
    std::sort(bins.begin(), bins.end(), [](const Bin& a, const Bin& b) { return a.key < b.key; });

    out.price_bins.reserve(bins.size());
    out.buy_vol.reserve(bins.size());
    out.sell_vol.reserve(bins.size());
    for (const Bin& bin : bins) {
        out.price_bins.push_back(round8(bin.edge));
        out.buy_vol.push_back(round8(bin.buy));
        out.sell_vol.push_back(round8(bin.sell));
    }
    return out;
}

}  // namespace ovra
