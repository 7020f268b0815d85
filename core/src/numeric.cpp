#include "numeric.h"

#include <cmath>

namespace ovra {

// A zero of either sign comes back as it is, as the rounding would give it.
double round8(double x) noexcept { return x == 0.0 ? x : std::round(x * 1e8) / 1e8; }

double bin_edge(double price, double bin) noexcept {
    const double q = price / bin;
    const double f = std::floor(q);
    const double e = f * bin;
    return round8(e);
}

}  // namespace ovra
