#include "spec_validation.h"

#include <cmath>
#include <string>

namespace ovra {

namespace {

bool positive_number(double x) noexcept { return std::isfinite(x) && x > 0.0; }

Failure<OvraError> bad(std::string message) { return fail(OvraError{ErrorKind::BadSpec, std::move(message)}); }

std::string price_bin_message(const char* kind) { return std::string(kind) + " price_bin must be a positive number"; }

// The checks of one panel in field order; an empty text when it passes.
std::string panel_problem(const OvraPanel& panel) {
    struct Check {
        std::string operator()(const OvraPanel::Footprint& p) const {
            if (!positive_number(p.price_bin)) return price_bin_message("footprint");
            if (p.bucket_ms <= 0) return "footprint bucket_ms must be > 0";
            return {};
        }
        std::string operator()(const OvraPanel::BookHeatmap& p) const {
            if (!positive_number(p.price_bin)) return price_bin_message("book_heatmap");
            if (p.bucket_ms <= 0) return "book_heatmap bucket_ms must be > 0";
            if (p.depth_levels == 0) return "book_heatmap depth_levels must be > 0";
            return {};
        }
        std::string operator()(const OvraPanel::LiquidationMap& p) const {
            if (!positive_number(p.price_bin)) return price_bin_message("liquidation_map");
            return {};
        }
        std::string operator()(const OvraPanel::FundingOiDivergence& p) const {
            if (p.bucket_ms <= 0) return "funding_oi_divergence bucket_ms must be > 0";
            return {};
        }
    };
    return std::visit(Check{}, panel.config);
}

}  // namespace

Result<Ok> validate_spec(const OvraSpec& spec) {
    if (spec.symbol.empty()) return bad("symbol must not be empty");
    if (spec.panels.empty()) return bad("panels must not be empty");
    if (spec.from_ts && spec.to_ts && *spec.from_ts > *spec.to_ts) return bad("from_ts must be <= to_ts");
    for (const OvraPanel& panel : spec.panels) {
        std::string problem = panel_problem(panel);
        if (!problem.empty()) return bad(std::move(problem));
    }
    return Ok{};
}

}  // namespace ovra
