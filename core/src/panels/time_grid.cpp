// Floor-divided bucket grids in 128-bit arithmetic.
#include "panels/time_grid.h"

#include <limits>

#include "numeric.h"

namespace ovra {

Result<TimeGrid, std::string> floor_time_grid(std::string_view kind, std::int64_t first_ts,
                                              std::int64_t last_ts, std::int64_t step) {
    const Int128 qf = floor_div(first_ts, step);
    const Int128 ql = floor_div(last_ts, step);
    const Int128 start = qf * step;
    if (start < std::numeric_limits<std::int64_t>::min()) {
        std::string message(kind);
        message += " bucket start out of range: ";
        message += int128_text(start);
        return fail(std::move(message));
    }
    TimeGrid grid;
    grid.start = static_cast<std::int64_t>(start);
    grid.step = step;
    grid.count = ql - qf + 1;
    return grid;
}

std::string grid_too_large(std::string_view kind, Int128 buckets) {
    std::string message(kind);
    message += " grid too large: ";
    message += int128_text(buckets);
    message += " buckets";
    return message;
}

std::string int128_text(Int128 value) {
    // Magnitude as unsigned so that the most negative value is exact.
    unsigned __int128 magnitude = value < 0 ? -static_cast<unsigned __int128>(value)
                                            : static_cast<unsigned __int128>(value);
    char digits[40];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + static_cast<int>(magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    std::string text;
    text.reserve(static_cast<std::size_t>(n) + 1);
    if (value < 0) text += '-';
    while (n > 0) text += digits[--n];
    return text;
}

}  // namespace ovra
