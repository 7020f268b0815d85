// Reads length-prefixed dataset texts from stdin (decimal length, line feed,
// bytes) and prints one line per text as the reference reader's "dataset"
// mode does: "OK " and the sorted dataset echoed as compact JSON, or the error
// envelope. The direct road is tried first, the tree road when it declines;
// a leading "T" on a line marks that the direct road took the text. With
// the arguments "split BYTES" the direct road shares every series array with
// at least BYTES of text from its start on with a pool worker.
#include <cstdint>
#include <iostream>
#include <string>

#include "dataset.h"
#include "framed_texts.h"
#include "dataset_reader.h"
#include "json/float_format.h"
#include "json/json_reader.h"
#include "load/direct_dataset_reader.h"

namespace {

using ovra::json::append_float;

void levels(std::string& out, std::span<const ovra::BookLevel> run) {
    out += '[';
    for (std::size_t i = 0; i < run.size(); ++i) {
        if (i) out += ',';
        out += '[';
        append_float(out, run[i].price);
        out += ',';
        append_float(out, run[i].qty);
        out += ']';
    }
    out += ']';
}

std::string echo(const ovra::Dataset& d) {
    std::string o = "{\"candles\":[";
    for (std::size_t i = 0; i < d.candles.size(); ++i) {
        const auto& c = d.candles[i];
        if (i) o += ',';
        o += "{\"ts\":" + std::to_string(c.ts) + ",\"open\":";
        append_float(o, c.open);
        o += ",\"high\":";
        append_float(o, c.high);
        o += ",\"low\":";
        append_float(o, c.low);
        o += ",\"close\":";
        append_float(o, c.close);
        o += ",\"volume\":";
        append_float(o, c.volume);
        o += '}';
    }
    o += "],\"trades\":[";
    for (std::size_t i = 0; i < d.trades.size(); ++i) {
        const auto& t = d.trades[i];
        if (i) o += ',';
        o += "{\"ts\":" + std::to_string(t.ts) + ",\"price\":";
        append_float(o, t.price);
        o += ",\"qty\":";
        append_float(o, t.qty);
        o += t.side == ovra::TradeSide::Buy ? ",\"side\":\"buy\"}" : ",\"side\":\"sell\"}";
    }
    o += "],\"book\":[";
    for (std::size_t i = 0; i < d.book.size(); ++i) {
        const auto& b = d.book[i];
        if (i) o += ',';
        o += "{\"ts\":" + std::to_string(b.ts);
        o += b.kind == ovra::BookEventKind::Snapshot ? ",\"kind\":\"snapshot\",\"bids\":" : ",\"kind\":\"diff\",\"bids\":";
        levels(o, b.bids);
        o += ",\"asks\":";
        levels(o, b.asks);
        o += '}';
    }
    o += "],\"funding\":[";
    for (std::size_t i = 0; i < d.funding.size(); ++i) {
        if (i) o += ',';
        o += "{\"ts\":" + std::to_string(d.funding[i].ts) + ",\"rate\":";
        append_float(o, d.funding[i].rate);
        o += '}';
    }
    o += "],\"oi\":[";
    for (std::size_t i = 0; i < d.oi.size(); ++i) {
        if (i) o += ',';
        o += "{\"ts\":" + std::to_string(d.oi[i].ts) + ",\"oi\":";
        append_float(o, d.oi[i].oi);
        o += '}';
    }
    o += "],\"liquidations\":[";
    for (std::size_t i = 0; i < d.liquidations.size(); ++i) {
        const auto& l = d.liquidations[i];
        if (i) o += ',';
        o += "{\"ts\":" + std::to_string(l.ts) + ",\"price\":";
        append_float(o, l.price);
        o += ",\"qty\":";
        append_float(o, l.qty);
        o += l.side == ovra::LiquidationSide::Long ? ",\"side\":\"long\"}" : ",\"side\":\"short\"}";
    }
    return o + "]}";
}

std::string escaped(const std::string& text) {
    std::string o = "\"";
    for (unsigned char c : text) {
        if (c == '"') o += "\\\"";
        else if (c == '\\') o += "\\\\";
        else if (c == '\n') o += "\\n";
        else if (c == '\r') o += "\\r";
        else if (c == '\t') o += "\\t";
        else if (c == '\b') o += "\\b";
        else if (c == '\f') o += "\\f";
        else if (c < 0x20) {
            static const char* hex = "0123456789abcdef";
            o += "\\u00";
            o += hex[c >> 4];
            o += hex[c & 15];
        } else o += static_cast<char>(c);
    }
    return o + "\"";
}

std::string answer(const std::string& text, const ovra::load::SplitPolicy& policy) {
    if (auto direct = ovra::load::read_dataset_text(text, policy)) {
        ovra::sort_dataset(*direct);
        return "TOK " + echo(*direct);
    }
    auto parsed = ovra::json::parse_document(text);
    if (!parsed) return "{\"ok\":false,\"error\":" + escaped("parse: " + parsed.error().display()) + "}";
    auto converted = ovra::dataset_from_json_value(parsed.value().root());
    if (!converted) return "{\"ok\":false,\"error\":" + escaped("parse: " + converted.error()) + "}";
    ovra::sort_dataset(converted.value());
    return "OK " + echo(converted.value());
}

}  // namespace

int main(int argc, char** argv) {
    ovra::load::SplitPolicy policy;
    if (argc == 3 && std::string(argv[1]) == "split") policy.min_bytes = std::stoull(argv[2]);
    ovra::check::for_each_framed_text([&](const std::string& text) { std::cout << answer(text, policy) << '\n'; });
}
