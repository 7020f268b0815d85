#include "frame_writer.h"

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
        for (std::size_t row = 0; row < p.time.size(); ++row) {
            if (row) w.raw(',');
            write_floats(w, std::span<const double>(p.intensity).subspan(row * p.row_length, p.row_length));
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
