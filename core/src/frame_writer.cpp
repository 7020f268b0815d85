// frame_to_json: the frame object and the four panel shapes, tag first,
// written front to back into one buffer.
#include "frame_writer.h"

#include <algorithm>
#include <span>

#include "json/json_writer.h"

namespace ovra {

namespace {

using json::JsonWriter;

const char* side_word(LiquidationSide side) noexcept {
    switch (side) {
        case LiquidationSide::Long: return "\"long\"";
        case LiquidationSide::Short: return "\"short\"";
    }
    return "\"\"";
}

void write_floats(JsonWriter& w, std::span<const double> values) {
    w.raw('[');
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i) w.raw(',');
        w.f64(values[i]);
    }
    w.raw(']');
}

void write_ints(JsonWriter& w, std::span<const std::int64_t> values) {
    w.raw('[');
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i) w.raw(',');
        w.i64(values[i]);
    }
    w.raw(']');
}

// Row `row` of a row-major grid. A grid shorter than its rows claim (only a
// hand-built PanelData can be) yields short or empty rows, never a read past
// its end.
std::span<const double> grid_row(std::span<const double> grid, std::size_t row, std::size_t length) noexcept {
    if (length == 0 || row > grid.size() / length) return {};  // also keeps row * length from overflowing
    const std::size_t start = row * length;
    return grid.subspan(start, std::min(length, grid.size() - start));
}

struct PanelWriter {
    JsonWriter& w;

    void operator()(const PanelData::Footprint& p) const {
        w.raw("{\"kind\":\"footprint\",\"price_bins\":");
        write_floats(w, p.price_bins);
        w.raw(",\"buy_vol\":");
        write_floats(w, p.buy_vol);
        w.raw(",\"sell_vol\":");
        write_floats(w, p.sell_vol);
        w.raw('}');
    }
    void operator()(const PanelData::BookHeatmap& p) const {
        w.raw("{\"kind\":\"book_heatmap\",\"time\":");
        write_ints(w, p.time);
        w.raw(",\"price\":");
        write_floats(w, p.price);
        w.raw(",\"intensity\":[");
        const std::span<const double> grid(p.intensity);
        for (std::size_t row = 0; row < p.time.size(); ++row) {
            if (row) w.raw(',');
            write_floats(w, grid_row(grid, row, p.row_length));
        }
        w.raw("]}");
    }
    void operator()(const PanelData::LiquidationMap& p) const {
        w.raw("{\"kind\":\"liquidation_map\",\"events\":[");
        for (std::size_t i = 0; i < p.events.size(); ++i) {
            const LiquidationMapEvent& e = p.events[i];
            if (i) w.raw(',');
            w.raw("{\"ts\":");
            w.i64(e.ts);
            w.raw(",\"price_bin\":");
            w.f64(e.price_bin);
            w.raw(",\"qty\":");
            w.f64(e.qty);
            w.raw(",\"side\":");
            w.raw(side_word(e.side));
            w.raw('}');
        }
        w.raw("]}");
    }
    void operator()(const PanelData::FundingOiDivergence& p) const {
        w.raw("{\"kind\":\"funding_oi_divergence\",\"time\":");
        write_ints(w, p.time);
        w.raw(",\"funding\":");
        write_floats(w, p.funding);
        w.raw(",\"oi\":");
        write_floats(w, p.oi);
        w.raw(",\"price\":");
        write_floats(w, p.price);
        w.raw('}');
    }
};

}  // namespace

std::string frame_to_json(const Frame& frame) {
    JsonWriter w;
    w.raw("{\"symbol\":");
    w.string(frame.symbol);
    w.raw(",\"cursor_ts\":");
    w.i64(frame.cursor_ts);
    w.raw(",\"panels\":[");
    for (std::size_t i = 0; i < frame.panels.size(); ++i) {
        if (i) w.raw(',');
        std::visit(PanelWriter{w}, frame.panels[i].data);
    }
    w.raw("]}");
    return w.take();
}

}  // namespace ovra
