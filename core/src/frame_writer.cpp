// frame_to_json: the frame object and the four panel shapes, tag first,
// written front to back into one buffer.
#include "frame_writer.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

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

bool same_bits(double a, double b) noexcept {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// Where each cell's text of one intensity row lies in the output.
struct RowText {
    std::size_t begin = 0;  // the row's '['
    std::size_t end = 0;    // past its ']'
    std::vector<std::size_t> cell_begin;
    std::vector<std::size_t> cell_end;
};

// Appends out[begin, begin + n) to out; the copy never reads freed memory,
// as the room is made before the source is taken.
void append_own(std::string& out, std::size_t begin, std::size_t n) {
    out.reserve(out.size() + n);
    out.append(out.data() + begin, n);
}

// One intensity row. The text of a float depends on its bits only, so a
// cell equal in bits to the cell above is copied from the row before rather
// than formatted again (a level's quantity often stays put for many
// buckets), and a row equal to the one above is copied whole (a bucket
// without book events repeats its row).
void write_row(std::string& out, JsonWriter& w, std::span<const double> row, std::span<const double> above,
               const RowText& above_text, RowText& text) {
    text.cell_begin.resize(row.size());
    text.cell_end.resize(row.size());
    text.begin = out.size();
    if (!row.empty() && row.size() == above.size() &&
        std::equal(row.begin(), row.end(), above.begin(), same_bits)) {
        append_own(out, above_text.begin, above_text.end - above_text.begin);
        const std::size_t shift = text.begin - above_text.begin;
        for (std::size_t i = 0; i < row.size(); ++i) {
            text.cell_begin[i] = above_text.cell_begin[i] + shift;
            text.cell_end[i] = above_text.cell_end[i] + shift;
        }
        text.end = out.size();
        return;
    }
    out.push_back('[');
    for (std::size_t i = 0; i < row.size(); ++i) {
        if (i) out.push_back(',');
        text.cell_begin[i] = out.size();
        if (i < above.size() && same_bits(row[i], above[i])) {
            append_own(out, above_text.cell_begin[i], above_text.cell_end[i] - above_text.cell_begin[i]);
        } else {
            w.f64(row[i]);
        }
        text.cell_end[i] = out.size();
    }
    out.push_back(']');
    text.end = out.size();
}

void write_intensity(JsonWriter& w, std::span<const double> grid, std::size_t rows, std::size_t length) {
    std::string& out = w.text();
    RowText above_text;
    RowText text;
    std::span<const double> above;
    out.push_back('[');
    for (std::size_t r = 0; r < rows; ++r) {
        if (r) out.push_back(',');
        const std::span<const double> row = grid_row(grid, r, length);
        write_row(out, w, row, above, above_text, text);
        above = row;
        std::swap(above_text, text);
    }
    out.push_back(']');
}

void write_liquidation_event(JsonWriter& w, const LiquidationMapEvent& e) {
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
        w.raw(",\"intensity\":");
        write_intensity(w, p.intensity, p.time.size(), p.row_length);
        w.raw('}');
    }
    void operator()(const PanelData::LiquidationMap& p) const {
        w.raw("{\"kind\":\"liquidation_map\",\"events\":[");
        for (std::size_t i = 0; i < p.events.size(); ++i) {
            if (i) w.raw(',');
            write_liquidation_event(w, p.events[i]);
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

void append_panel_json(std::string& out, const PanelData& panel) {
    JsonWriter w;
    std::swap(w.text(), out);
    std::visit(PanelWriter{w}, panel.data);
    out = w.take();
}

void append_liquidation_event_json(std::string& out, const LiquidationMapEvent& event) {
    JsonWriter w;
    std::swap(w.text(), out);
    write_liquidation_event(w, event);
    out = w.take();
}

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
