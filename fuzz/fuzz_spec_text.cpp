// libFuzzer target over the constructor's road for a spec: strip Unicode
// white space, read the text as an OvraSpec, validate it. Checked: every
// error carries its " at line L column C" suffix and is valid UTF-8; a text
// the text road accepts is accepted by the value road ("set_spec") too, with
// the same spec (unless it holds a number out of range in a skipped member);
// validation gives the same answer twice.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "json/json_reader.h"
#include "json_check.h"
#include "spec_reader.h"
#include "spec_validation.h"
#include "text_strip.h"

namespace {

[[noreturn]] void broken(const char* why, std::string_view input, std::string_view detail) {
    std::fprintf(stderr, "\ninvariant broken: %s\ninput (%zu bytes): %.*s\ndetail: %.*s\n", why, input.size(),
                 static_cast<int>(input.size() > 2000 ? 2000 : input.size()), input.data(),
                 static_cast<int>(detail.size() > 2000 ? 2000 : detail.size()), detail.data());
    std::abort();
}

bool has_position_suffix(std::string_view message) {
    const auto strip_digits = [&message]() {
        const std::size_t before = message.size();
        while (!message.empty() && message.back() >= '0' && message.back() <= '9') message.remove_suffix(1);
        return message.size() < before;
    };
    if (!strip_digits() || !message.ends_with(" column ")) return false;
    message.remove_suffix(8);
    return strip_digits() && message.ends_with(" at line ");
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool same_panel(const ovra::OvraPanel& a, const ovra::OvraPanel& b) {
    using P = ovra::OvraPanel;
    if (a.config.index() != b.config.index()) return false;
    if (const auto* x = std::get_if<P::Footprint>(&a.config)) {
        const auto& y = std::get<P::Footprint>(b.config);
        return same_bits(x->price_bin, y.price_bin) && x->bucket_ms == y.bucket_ms;
    }
    if (const auto* x = std::get_if<P::BookHeatmap>(&a.config)) {
        const auto& y = std::get<P::BookHeatmap>(b.config);
        return same_bits(x->price_bin, y.price_bin) && x->bucket_ms == y.bucket_ms && x->depth_levels == y.depth_levels;
    }
    if (const auto* x = std::get_if<P::LiquidationMap>(&a.config)) {
        return same_bits(x->price_bin, std::get<P::LiquidationMap>(b.config).price_bin);
    }
    return std::get<P::FundingOiDivergence>(a.config).bucket_ms == std::get<P::FundingOiDivergence>(b.config).bucket_ms;
}

bool same_spec(const ovra::OvraSpec& a, const ovra::OvraSpec& b) {
    if (a.dataset_ref != b.dataset_ref || a.symbol != b.symbol || a.from_ts != b.from_ts || a.to_ts != b.to_ts ||
        a.panels.size() != b.panels.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.panels.size(); ++i) {
        if (!same_panel(a.panels[i], b.panels[i])) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // The constructor only ever sees the UTF-8 of a Python str.
    if (!ovra_fuzz::is_valid_utf8(input)) return 0;
    const std::string_view text = ovra::binding::strip_unicode_white_space(input);
    if (text.empty() || text == "{}") return 0;
    auto read = ovra::spec_from_json_text(text);
    if (!read) {
        const std::string& message = read.error();
        if (!has_position_suffix(message)) broken("text-road error without its position", input, message);
        if (!ovra_fuzz::is_valid_utf8(message)) broken("error message is not UTF-8", input, message);
        return 0;
    }
    const auto first = ovra::validate_spec(read.value());
    const auto second = ovra::validate_spec(read.value());
    if (bool(first) != bool(second) || (!first && first.error().display() != second.error().display())) {
        broken("validation is not repeatable", input, "");
    }
    auto parsed = ovra::json::parse_document(text);
    if (!parsed) {
        // Skipping an unknown member, the text road only scans a number and
        // never converts it, so it may hold one the command parser refuses.
        if (parsed.error().message == "number out of range") return 0;
        broken("the text road read what the command parser refuses", input, parsed.error().display());
    }
    auto by_value = ovra::spec_from_json_value(parsed.value().root());
    if (!by_value) broken("the value road refuses what the text road read", input, by_value.error());
    if (!same_spec(read.value(), by_value.value())) broken("the two roads read different specs", input, "");
    return 0;
}
