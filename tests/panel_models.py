"""Small, independent pure-Python models of the four panels and of the frame
text form, for the property tests. Written straight from the panel rules with
no shortcuts: every book entry is tested against every price level, maps are
plain dicts sorted at the end. Python floats are IEEE doubles, but Python's
round() and math.floor() are not C's, so both are rebuilt here."""

import math
import struct

MAX_GRID_CELLS = 10_000_000
I64_MIN = -(2**63)
HALF_MAX = 8.988465674311579e307


# ---- numeric rules -------------------------------------------------------


def c_round(x):
    """Nearest integral value, halves away from zero, sign of a zero kept."""
    if not math.isfinite(x) or abs(x) >= 2.0**52:
        return x
    magnitude = abs(x)
    whole = float(math.floor(magnitude))
    if magnitude - whole >= 0.5:
        whole += 1.0
    return math.copysign(whole, x)


def c_floor(x):
    """Largest integral value not above x, keeping the sign of a zero."""
    if not math.isfinite(x) or x == 0.0:
        return x
    return float(math.floor(x))


def round8(x):
    return c_round(x * 1e8) / 1e8


def bin_edge(price, height):
    q = price / height
    f = c_floor(q)
    e = f * height
    return round8(e)


def total_order_key(x):
    (bits,) = struct.unpack("<q", struct.pack("<d", x))
    if bits < 0:
        bits ^= 0x7FFF_FFFF_FFFF_FFFF
    return bits


# ---- text form -----------------------------------------------------------


def float_text(x):
    if not math.isfinite(x):
        return "null"
    if x == 0.0:
        return "-0.0" if math.copysign(1.0, x) < 0 else "0.0"
    text = repr(abs(x))  # shortest round-trip digits
    mantissa, _, exp = text.partition("e")
    whole, _, frac = mantissa.partition(".")
    all_digits = whole + frac
    leading = len(all_digits) - len(all_digits.lstrip("0"))
    digits = all_digits.strip("0")
    e = len(whole) - leading - 1 + (int(exp) if exp else 0)
    n = len(digits)
    sign = "-" if x < 0 else ""
    if -5 <= e <= 15:
        if e >= n - 1:
            body = digits + "0" * (e - n + 1) + ".0"
        elif e >= 0:
            body = digits[: e + 1] + "." + digits[e + 1 :]
        else:
            body = "0." + "0" * (-e - 1) + digits
    else:
        body = digits[0] + ("." + digits[1:] if n > 1 else "") + "e" + ("+" if e >= 0 else "-") + str(abs(e))
    return sign + body


def floats_text(values):
    return "[" + ",".join(float_text(v) for v in values) + "]"


def ints_text(values):
    return "[" + ",".join(str(v) for v in values) + "]"


# ---- panels --------------------------------------------------------------
# Records are tuples in the order of their JSON array form; each series is
# given already in window order (stable by ts).


def footprint(trades, price_bin):
    """trades: (ts, price, qty, side) with side "buy" or "sell"."""
    bins = {}
    for _, price, qty, side in trades:
        edge = bin_edge(price, price_bin)
        entry = bins.setdefault(total_order_key(edge), [edge, 0.0, 0.0])
        if side == "buy":
            entry[1] = entry[1] + qty
        else:
            entry[2] = entry[2] + qty
    ordered = [bins[k] for k in sorted(bins)]
    return (
        '{"kind":"footprint","price_bins":' + floats_text(round8(e[0]) for e in ordered)
        + ',"buy_vol":' + floats_text(round8(e[1]) for e in ordered)
        + ',"sell_vol":' + floats_text(round8(e[2]) for e in ordered) + "}"
    )


def liquidation_map(liquidations, price_bin):
    """liquidations: (ts, price, qty, side) with side "long" or "short"."""
    marks = [(ts, bin_edge(price, price_bin), round8(qty), side) for ts, price, qty, side in liquidations]
    marks.sort(key=lambda m: (m[0], total_order_key(m[1]), m[3] == "short"))  # sort() is stable
    events = ",".join(
        '{"ts":%d,"price_bin":%s,"qty":%s,"side":"%s"}' % (ts, float_text(pb), float_text(q), side)
        for ts, pb, q, side in marks
    )
    return '{"kind":"liquidation_map","events":[' + events + "]}"


class GridError(Exception):
    pass


def _grid(first_ts, last_ts, step):
    qf = first_ts // step  # Python's // is floor division
    ql = last_ts // step
    return qf * step, ql - qf + 1


def _apply_event(book, event):
    _, kind, bids, asks = event
    if kind == "snapshot":
        book["bids"].clear()
        book["asks"].clear()
    for side, levels in (("bids", bids), ("asks", asks)):
        for price, qty in levels:
            key = total_order_key(price)
            if qty == 0.0:
                book[side].pop(key, None)
            else:
                book[side][key] = (price, qty)


def _band_sum(side, lo, hi):
    total = -0.0
    for key in sorted(side):
        price, qty = side[key]
        if lo <= price < hi:
            total = total + qty
    return total


def book_heatmap(events, price_bin, bucket_ms, depth_levels):
    """events: (ts, kind, bids, asks), levels as (price, qty) pairs.
    Raises GridError with the message (without "data: ") for a refused grid."""
    empty = '{"kind":"book_heatmap","time":[],"price":[],"intensity":[]}'
    if not events:
        return empty
    book = {"bids": {}, "asks": {}}
    for event in events:
        _apply_event(book, event)
    if not book["bids"] or not book["asks"]:
        return empty
    start, n = _grid(events[0][0], events[-1][0], bucket_ms)
    if start < I64_MIN:
        raise GridError("book_heatmap bucket start out of range: %d" % start)
    if n * depth_levels > MAX_GRID_CELLS:
        raise GridError("book_heatmap grid too large: %d buckets x %d levels" % (n, depth_levels))
    best_bid = book["bids"][max(book["bids"])][0]
    best_ask = book["asks"][min(book["asks"])][0]
    if abs(best_bid) <= HALF_MAX and abs(best_ask) <= HALF_MAX:
        mid = (best_bid + best_ask) * 0.5
    else:
        mid = best_bid * 0.5 + best_ask * 0.5
    centre = bin_edge(mid, price_bin)
    half = depth_levels // 2
    ladder = [round8(float(j - half) * price_bin + centre) for j in range(depth_levels)]
    tops = [round8(price_bin + lo) for lo in ladder]

    book = {"bids": {}, "asks": {}}
    position = 0
    times, rows = [], []
    for k in range(n):
        end = start + (k + 1) * bucket_ms
        while position < len(events) and events[position][0] < end:
            _apply_event(book, events[position])
            position += 1
        row = []
        for lo, hi in zip(ladder, tops):
            row.append(round8(_band_sum(book["bids"], lo, hi) + _band_sum(book["asks"], lo, hi)))
        times.append(start + k * bucket_ms)
        rows.append(floats_text(row))
    return (
        '{"kind":"book_heatmap","time":' + ints_text(times) + ',"price":' + floats_text(ladder)
        + ',"intensity":[' + ",".join(rows) + "]}"
    )


def funding_oi_divergence(funding, oi, candles, bucket_ms):
    """funding: (ts, rate); oi: (ts, oi); candles: (ts, close).
    Raises GridError with the message (without "data: ") for a refused grid."""
    series = [s for s in (funding, oi, candles) if s]
    if not series:
        return '{"kind":"funding_oi_divergence","time":[],"funding":[],"oi":[],"price":[]}'
    start, n = _grid(min(s[0][0] for s in series), max(s[-1][0] for s in series), bucket_ms)
    if start < I64_MIN:
        raise GridError("funding_oi_divergence bucket start out of range: %d" % start)
    if n > MAX_GRID_CELLS:
        raise GridError("funding_oi_divergence grid too large: %d buckets" % n)
    columns = [[], [], []]
    times = []
    for k in range(n):
        s = start + k * bucket_ms
        end = s + bucket_ms
        for column, samples in zip(columns, (funding, oi, candles)):
            carried = 0.0
            for ts, value in samples:
                if ts < end:
                    carried = value
            column.append(round8(carried))
        times.append(s)
    return (
        '{"kind":"funding_oi_divergence","time":' + ints_text(times) + ',"funding":' + floats_text(columns[0])
        + ',"oi":' + floats_text(columns[1]) + ',"price":' + floats_text(columns[2]) + "}"
    )
