"""Pictures of a frame, drawn with matplotlib (the optional ``plot`` extra).

``render_frame(frame, "out.png")`` writes a PNG; ``frame_figure(frame)`` returns the
matplotlib ``Figure`` for further work. A frame is the JSON text that the "frame" and
"frame_at" commands answer, or that text already parsed into a ``dict``.

Each panel of the frame gets its own tile, in the order of the spec, two tiles per row:

- footprint: horizontal bars per price bin, sells to the left in red, buys to the right in
  green, the bin with the most volume marked;
- book heatmap: resting quantity (bids and asks together) as an image over time and price,
  on a square-root colour scale so that walls do not wash out the rest, with the last price
  drawn over it when the frame also has a funding / open-interest panel;
- liquidation map: one mark per liquidation at its time and price bin, red for longs forced
  out, green for shorts, the area of a mark proportional to its quantity;
- funding / open interest / price: three series on one shared time axis.

Time axes show UTC clock times and, where they share the frame's time range, line up. The
figure is drawn without pyplot on the Agg canvas, so it works on machines without a display
and leaves pyplot's global state alone.
"""

from __future__ import annotations

import json
import math
import os
from datetime import datetime, timezone
from typing import Any, Dict, List, Optional, Sequence, Tuple, Union

try:
    import matplotlib.dates as mdates
    import numpy as np
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.colors import PowerNorm
    from matplotlib.figure import Figure, SubFigure
    from matplotlib.lines import Line2D
    from matplotlib.ticker import FuncFormatter
except ImportError as missing:  # pragma: no cover - exercised only without matplotlib
    raise ImportError(
        'tavrin_ovra.plot needs matplotlib: pip install "tavrin_ovra[plot]"'
    ) from missing

__all__ = ["frame_figure", "render_frame"]

FrameLike = Union[str, bytes, Dict[str, Any]]

BUY = "#2e9e5b"
SELL = "#d64541"
LONG = SELL  # a long is forced out by selling
SHORT = BUY
PRICE_LINE = "#1f4e79"
UTC = timezone.utc
_MS_PER_DAY = 86_400_000.0
_EPOCH_DAYS = float(
    mdates.date2num(datetime(1970, 1, 1, tzinfo=UTC)))  # type: ignore[no-untyped-call]

_TITLES = {
    "footprint": "Footprint",
    "book_heatmap": "Book heatmap",
    "liquidation_map": "Liquidation map",
    "funding_oi_divergence": "Funding, open interest and price",
}


def render_frame(frame: FrameLike, path: Union[str, "os.PathLike[str]"], *,
                 dpi: int = 110) -> None:
    """Draw ``frame`` and write it to ``path`` as a PNG."""
    figure = frame_figure(frame)
    FigureCanvasAgg(figure)
    figure.savefig(path, dpi=dpi, format="png")


def frame_figure(frame: FrameLike) -> Figure:
    """A matplotlib ``Figure`` showing every panel of ``frame``."""
    data = _as_frame(frame)
    panels: List[Dict[str, Any]] = list(data.get("panels") or [])
    columns = 1 if len(panels) <= 1 else 2
    rows = max(1, math.ceil(len(panels) / columns))
    figure = Figure(figsize=(8.0 * columns, 5.2 * rows), layout="constrained")
    figure.suptitle(_frame_title(data), fontsize=14, fontweight="bold")
    tiles = figure.subfigures(rows, columns, squeeze=False)
    span = _time_span(panels)
    price_path = _price_path(panels)
    for index, panel in enumerate(panels):
        tile = tiles[index // columns][index % columns]
        kind = panel.get("kind")
        if kind == "footprint":
            _draw_footprint(tile, panel)
        elif kind == "book_heatmap":
            _draw_heatmap(tile, panel, span, price_path)
        elif kind == "liquidation_map":
            _draw_liquidations(tile, panel, span)
        elif kind == "funding_oi_divergence":
            _draw_funding_oi(tile, panel, span)
        else:
            _empty(tile.subplots(), f"panel kind {kind!r} is not drawn")
    if not panels:
        _empty(tiles[0][0].subplots(), "the frame has no panels")
    return figure


# -- input ----------------------------------------------------------------------------------

def _as_frame(frame: FrameLike) -> Dict[str, Any]:
    if isinstance(frame, (str, bytes)):
        frame = json.loads(frame)
    if not isinstance(frame, dict):
        raise TypeError("a frame is a JSON text or a dict")
    if "error" in frame:
        raise ValueError(f"not a frame but an error response: {frame['error']}")
    return frame


def _floats(values: Sequence[Any]) -> List[float]:
    """Non-finite values reach us as null; they become NaN, which matplotlib leaves out."""
    return [math.nan if v is None else float(v) for v in values]


def _days(ms: Union[int, float]) -> float:
    """Milliseconds since 1970 as a matplotlib date number."""
    return _EPOCH_DAYS + ms / _MS_PER_DAY


def _clock(ms: int) -> str:
    return datetime.fromtimestamp(ms / 1000.0, UTC).strftime("%Y-%m-%d %H:%M:%S UTC")


def _duration(ms: float) -> str:
    if ms >= 3_600_000 and ms % 3_600_000 == 0:
        return f"{ms / 3_600_000:g} h"
    if ms >= 60_000 and ms % 60_000 == 0:
        return f"{ms / 60_000:g} min"
    if ms >= 1000:
        return f"{ms / 1000:g} s"
    return f"{ms:g} ms"


def _step(values: Sequence[float], fallback: float) -> float:
    """The smallest positive gap between neighbours: the width of one bin or bucket."""
    gaps = [b - a for a, b in zip(values, values[1:]) if b - a > 0]
    return min(gaps) if gaps else fallback


def _frame_title(frame: Dict[str, Any]) -> str:
    symbol = frame.get("symbol", "?")
    cursor = frame.get("cursor_ts")
    if isinstance(cursor, int):
        return f"{symbol} · frame at {_clock(cursor)}"
    return str(symbol)


def _time_span(panels: List[Dict[str, Any]]) -> Optional[Tuple[float, float]]:
    """The time range over every panel with a time axis, so that their axes line up."""
    starts: List[float] = []
    ends: List[float] = []
    for panel in panels:
        kind = panel.get("kind")
        if kind in ("book_heatmap", "funding_oi_divergence") and panel.get("time"):
            times = panel["time"]
            starts.append(times[0])
            ends.append(times[-1] + _step(times, 60_000))
        elif kind == "liquidation_map" and panel.get("events"):
            stamps = [event["ts"] for event in panel["events"]]
            starts.append(min(stamps))
            ends.append(max(stamps))
    if not starts:
        return None
    lo, hi = min(starts), max(ends)
    if hi <= lo:
        hi = lo + 60_000
    pad = (hi - lo) * 0.01  # marks at the very first or last moment stay whole
    return _days(lo - pad), _days(hi + pad)


def _price_path(panels: List[Dict[str, Any]]) -> Optional[Tuple[List[float], List[float]]]:
    for panel in panels:
        if panel.get("kind") == "funding_oi_divergence" and panel.get("time"):
            times, prices = _step_series(panel["time"], _leading_gap(_floats(panel["price"])))
            return times, prices
    return None


# -- shared axis helpers --------------------------------------------------------------------

def _empty(ax: Any, text: str = "no data in the frame window") -> None:
    ax.text(0.5, 0.5, text, ha="center", va="center", transform=ax.transAxes,
            color="0.35", fontsize=11)
    ax.set_xticks([])
    ax.set_yticks([])


def _time_axis(ax: Any, span: Optional[Tuple[float, float]], label: bool = True) -> None:
    locator = mdates.AutoDateLocator(  # type: ignore[no-untyped-call]
        tz=UTC, minticks=4, maxticks=8)
    ax.xaxis.set_major_locator(locator)
    ax.xaxis.set_major_formatter(
        mdates.ConciseDateFormatter(locator, tz=UTC))  # type: ignore[no-untyped-call]
    if span is not None:
        ax.set_xlim(*span)
    if label:
        ax.set_xlabel("time (UTC)")


def _plain_numbers(ax: Any, axis: str = "y") -> None:
    """Prices and open interest read better in full than as offset plus small ticks."""
    ax.ticklabel_format(axis=axis, useOffset=False, style="plain")


def _step_series(times: Sequence[int], values: List[float]) -> Tuple[List[float], List[float]]:
    """Bucket starts and values, closed with the end of the last bucket, for steps-post."""
    width = _step(list(times), 60_000)
    xs = [_days(t) for t in times] + [_days(times[-1] + width)]
    return xs, values + values[-1:]


def _leading_gap(values: List[float]) -> List[float]:
    """A price or open interest of 0.0 before the series' first sample means "none yet"."""
    out = list(values)
    for i, value in enumerate(out):
        if value != 0.0:
            break
        out[i] = math.nan
    return out


# -- panels ---------------------------------------------------------------------------------

def _draw_footprint(tile: SubFigure, panel: Dict[str, Any]) -> None:
    ax = tile.subplots()
    bins = _floats(panel.get("price_bins", []))
    buys = _floats(panel.get("buy_vol", []))
    sells = _floats(panel.get("sell_vol", []))
    if not bins:
        ax.set_title(_TITLES["footprint"])
        _empty(ax)
        return
    height = _step(bins, 1.0)
    ax.barh(bins, [-s for s in sells], height=height * 0.86, align="edge", color=SELL,
            label=f"sell  {_total(sells):,.2f}")
    ax.barh(bins, buys, height=height * 0.86, align="edge", color=BUY,
            label=f"buy  {_total(buys):,.2f}")
    ax.axvline(0.0, color="0.25", linewidth=0.8)
    totals = [_finite(b) + _finite(s) for b, s in zip(buys, sells)]
    top = max(range(len(totals)), key=totals.__getitem__)
    ax.axhline(bins[top] + height / 2, color="0.3", linestyle="--", linewidth=0.8,
               label=f"most traded  {bins[top]:,.8g}")
    reach = max([abs(v) for v in buys + sells if math.isfinite(v)] or [1.0]) * 1.08
    ax.set_xlim(-reach, reach)
    ax.xaxis.set_major_formatter(FuncFormatter(lambda v, _pos: f"{abs(v):,.4g}"))
    ax.set_xlabel("traded quantity   (sells ◀ │ ▶ buys)")
    ax.set_ylabel("price")
    _plain_numbers(ax)
    ax.legend(loc="lower right", fontsize=8, title="volume", title_fontsize=8)
    ax.set_title(f"{_TITLES['footprint']} · {_count(len(bins), 'price bin')} of {height:,.8g}")
    ax.grid(axis="x", color="0.9")
    ax.set_axisbelow(True)


def _draw_heatmap(tile: SubFigure, panel: Dict[str, Any],
                  span: Optional[Tuple[float, float]],
                  price_path: Optional[Tuple[List[float], List[float]]]) -> None:
    ax = tile.subplots()
    times = panel.get("time", [])
    prices = _floats(panel.get("price", []))
    rows = panel.get("intensity", [])
    if not times or not prices:
        ax.set_title(_TITLES["book_heatmap"])
        _empty(ax)
        return
    bucket = _step(times, 60_000)
    level = _step(prices, 1.0)
    xs = [_days(t) for t in times] + [_days(times[-1] + bucket)]
    ys = prices + [prices[-1] + level]
    grid = np.array([_floats(row) for row in rows], dtype=float).T
    grid = np.clip(grid, 0.0, None)  # an empty band is -0.0; negative sizes are not drawn
    finite = grid[np.isfinite(grid)]
    top = float(finite.max()) if finite.size and finite.max() > 0 else 1.0
    mesh = ax.pcolormesh(xs, ys, grid, cmap="magma", shading="flat",
                         norm=PowerNorm(gamma=0.5, vmin=0.0, vmax=top))
    colour = tile.colorbar(mesh, ax=ax, pad=0.01)
    colour.set_label("resting quantity per cell (bids + asks, √ scale)")
    if price_path is not None:
        ax.step(price_path[0], price_path[1], where="post", color="#7fdbff", linewidth=1.0,
                label="last price")
        ax.legend(loc="upper left", fontsize=8, framealpha=0.6)
    ax.set_ylim(ys[0], ys[-1])
    _time_axis(ax, span)
    if span is not None:
        ax.set_xlim(max(span[0], xs[0]), min(span[1], xs[-1]))
    ax.set_ylabel("price")
    _plain_numbers(ax)
    ax.set_title(f"{_TITLES['book_heatmap']} · {len(times)} × {_duration(bucket)}, "
                 f"{_count(len(prices), 'level')} of {level:,.8g}")


def _draw_liquidations(tile: SubFigure, panel: Dict[str, Any],
                       span: Optional[Tuple[float, float]]) -> None:
    ax = tile.subplots()
    events = panel.get("events", [])
    if not events:
        ax.set_title(_TITLES["liquidation_map"])
        _empty(ax)
        return
    biggest = max([_finite(e.get("qty")) for e in events] or [1.0]) or 1.0

    def area(qty: float) -> float:
        return 6.0 + 420.0 * max(qty, 0.0) / biggest

    for side, colour, label in (("long", LONG, "longs liquidated"),
                                ("short", SHORT, "shorts liquidated")):
        chosen = [e for e in events if e.get("side") == side]
        if not chosen:
            continue
        total = sum(_finite(e.get("qty")) for e in chosen)
        ax.scatter([_days(e["ts"]) for e in chosen], _floats([e["price_bin"] for e in chosen]),
                   s=[area(_finite(e.get("qty"))) for e in chosen], c=colour, alpha=0.55,
                   edgecolors="white", linewidths=0.4,
                   label=f"{label}: {len(chosen)}, {total:,.2f}")
    sizes = [Line2D([], [], linestyle="", marker="o", color="0.55", alpha=0.55,
                    markersize=math.sqrt(area(q)), label=f"{q:,.3g}")
             for q in _reference_sizes(biggest)]
    sides, _labels = ax.get_legend_handles_labels()
    # one row above the plot: the marks themselves are spread over the whole area
    ax.legend(handles=sides + sizes, loc="lower left", bbox_to_anchor=(0.0, 1.0),
              ncol=len(sides) + len(sizes), fontsize=8, frameon=False,
              columnspacing=1.2, handletextpad=0.3)
    _time_axis(ax, span)
    ax.set_ylabel("price bin (lower edge)")
    _plain_numbers(ax)
    ax.grid(color="0.92")
    ax.set_axisbelow(True)
    tile.suptitle(f"{_TITLES['liquidation_map']} · {_count(len(events), 'liquidation')} "
                  "(side: count, total quantity; mark area ∝ quantity)", fontsize="large")


def _draw_funding_oi(tile: SubFigure, panel: Dict[str, Any],
                     span: Optional[Tuple[float, float]]) -> None:
    times = panel.get("time", [])
    if not times:
        ax = tile.subplots()
        ax.set_title(_TITLES["funding_oi_divergence"])
        _empty(ax)
        return
    price_ax, oi_ax, funding_ax = tile.subplots(3, 1, sharex=True,
                                                gridspec_kw={"height_ratios": [1.2, 1, 1]})
    xs, price = _step_series(times, _leading_gap(_floats(panel.get("price", []))))
    _, oi = _step_series(times, _leading_gap(_floats(panel.get("oi", []))))
    _, funding = _step_series(times, [100.0 * v for v in _floats(panel.get("funding", []))])
    price_ax.step(xs, price, where="post", color=PRICE_LINE, linewidth=1.2)
    price_ax.set_ylabel("price\n(last close)")
    oi_ax.step(xs, oi, where="post", color="#8e44ad", linewidth=1.2)
    oi_ax.set_ylabel("open interest")
    funding_ax.step(xs, funding, where="post", color="#e67e22", linewidth=1.2)
    funding_ax.fill_between(xs, funding, 0.0, step="post", color="#e67e22", alpha=0.25)
    funding_ax.axhline(0.0, color="0.4", linewidth=0.7)
    funding_ax.yaxis.set_major_formatter(FuncFormatter(lambda v, _pos: f"{v:.4f}%"))
    funding_ax.set_ylabel("funding rate")
    for ax in (price_ax, oi_ax):
        _plain_numbers(ax)
        ax.yaxis.set_major_formatter(FuncFormatter(lambda v, _pos: f"{v:,.6g}"))
    for ax in (price_ax, oi_ax, funding_ax):
        ax.grid(color="0.92")
        _time_axis(ax, span, label=ax is funding_ax)
    width = _step(list(times), 60_000)
    tile.suptitle(f"{_TITLES['funding_oi_divergence']} · {_count(len(times), 'bucket')} of "
                  f"{_duration(width)}", fontsize="large")


def _count(n: int, noun: str) -> str:
    return f"{n:,} {noun}" if n == 1 else f"{n:,} {noun}s"


def _finite(value: Any) -> float:
    return float(value) if isinstance(value, (int, float)) and math.isfinite(value) else 0.0


def _total(values: List[float]) -> float:
    return sum(v for v in values if math.isfinite(v))


def _reference_sizes(biggest: float) -> List[float]:
    """Three round quantities spanning the marks, for the size legend."""
    if biggest <= 0:
        return [1.0]
    top = 10 ** math.floor(math.log10(biggest))
    for mantissa in (5, 2, 1):
        if mantissa * top <= biggest:
            top *= mantissa
            break
    return [top / 10, top / 2, top] if top / 10 > 0 else [top]

