"""Order-flow readouts of a footprint panel: delta, point of control, value area and
diagonal imbalances. Pure Python, computed from the panel data of a frame; nothing here
talks to the module.

``footprint_readout(panel)`` takes one footprint panel of a frame (the dict with
"price_bins", "buy_vol" and "sell_vol", bins in ascending price order) and returns a
``FootprintReadout``. The rules, each chosen so that the same panel always gives the same
readout:

- **Volume** of a bin is its buy volume plus its sell volume, **delta** its buy volume minus
  its sell volume; the totals are plain sums of those in ascending price order. A
  volume the frame wrote as null (not finite) counts as 0.0 everywhere.
- **Point of control**: the bin with the most volume. Among bins of equal volume it is the
  one nearest the middle of the traded range (halfway between the lowest and the highest
  bin edge), and of two equally near the lower one.
- **Value area**: grown from the point of control one bin at a time until it holds at least
  ``value_area_share`` (70 %) of the total volume. Each step compares the next listed bin
  above with the next listed bin below and takes the one with more volume; on equal volume
  it takes the bin below; when one side is used up it takes the other. Bins without trades
  are not listed in a footprint, so a step may jump over such a price gap. With no positive
  total volume the value area is the point of control alone.
- **Diagonal imbalances**: a buy imbalance at a bin when its buy volume is at least
  ``ratio`` times the sell volume of the bin one ``price_bin`` below, a sell imbalance when
  its sell volume is at least ``ratio`` times the buy volume of the bin one ``price_bin``
  above (3.0, that is 300 %, by default; reaching the ratio exactly counts). In both cases
  the dominant volume must also be positive and at least ``min_volume``. Comparisons stay
  inside the traded range: the lowest bin has no buy imbalance and the highest no sell
  imbalance, while a price inside the range where nothing traded (not listed) has no
  volume, so against it any qualifying volume is an imbalance with an infinite ratio
  (written null). ``price_bin`` is the panel's bin height; without it the smallest gap
  between listed bins is used.
- **Stacked imbalances**: runs of at least ``stack`` (3) imbalances of the same side in bins
  that follow each other one ``price_bin`` apart.
"""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import Any, Dict, List, Mapping, Optional, Sequence

__all__ = [
    "DEFAULT_MIN_VOLUME",
    "DEFAULT_RATIO",
    "DEFAULT_STACK",
    "DEFAULT_VALUE_AREA_SHARE",
    "FootprintReadout",
    "Imbalance",
    "StackedRun",
    "footprint_readout",
    "frame_readouts",
]

DEFAULT_RATIO = 3.0
DEFAULT_MIN_VOLUME = 0.0
DEFAULT_STACK = 3
DEFAULT_VALUE_AREA_SHARE = 0.70

# Bin edges are rounded to eight decimals, so neighbours one bin apart differ by the bin
# height up to that rounding; this much slack (relative to the height) absorbs it.
_ADJACENT_SLACK = 1e-6


@dataclass(frozen=True)
class Imbalance:
    """One diagonal imbalance: ``volume`` of ``side`` at ``price`` against ``against``."""

    price: float
    side: str  # "buy" or "sell"
    volume: float
    against: float
    ratio: float  # volume / against, math.inf when against is 0

    def as_json(self) -> Dict[str, Any]:
        return {"price": self.price, "side": self.side, "volume": self.volume,
                "against": self.against, "ratio": _finite_or_none(self.ratio)}


@dataclass(frozen=True)
class StackedRun:
    """``count`` imbalances of ``side`` in adjacent bins from ``low`` to ``high`` (edges)."""

    side: str
    low: float
    high: float
    count: int

    def as_json(self) -> Dict[str, Any]:
        return {"side": self.side, "low": self.low, "high": self.high, "count": self.count}


@dataclass(frozen=True)
class FootprintReadout:
    """The readouts of one footprint panel; every list follows ``prices``."""

    prices: List[float]
    volume: List[float]
    delta: List[float]
    total_volume: float
    total_delta: float
    poc: Optional[float]  # None for a footprint without bins
    value_area_low: Optional[float]
    value_area_high: Optional[float]
    value_area_volume: float
    imbalances: List[Imbalance] = field(default_factory=list)
    stacks: List[StackedRun] = field(default_factory=list)

    def as_json(self) -> Dict[str, Any]:
        return {
            "prices": self.prices,
            "volume": self.volume,
            "delta": self.delta,
            "total_volume": self.total_volume,
            "total_delta": self.total_delta,
            "poc": self.poc,
            "value_area": {"low": self.value_area_low, "high": self.value_area_high,
                           "volume": self.value_area_volume},
            "imbalances": [item.as_json() for item in self.imbalances],
            "stacks": [run.as_json() for run in self.stacks],
        }


def footprint_readout(
    panel: Mapping[str, Any],
    *,
    price_bin: Optional[float] = None,
    ratio: float = DEFAULT_RATIO,
    min_volume: float = DEFAULT_MIN_VOLUME,
    stack: int = DEFAULT_STACK,
    value_area_share: float = DEFAULT_VALUE_AREA_SHARE,
) -> FootprintReadout:
    """The order-flow readouts of one footprint panel (rules in the module docstring)."""
    if not ratio > 0 or math.isinf(ratio):
        raise ValueError("ratio must be a positive number")
    if not 0 < value_area_share <= 1:
        raise ValueError("value_area_share must lie in (0, 1]")
    if stack < 1:
        raise ValueError("stack must be at least 1")
    prices = _floats(panel.get("price_bins", ()))
    buys = _floats(panel.get("buy_vol", ()))
    sells = _floats(panel.get("sell_vol", ()))
    if not len(prices) == len(buys) == len(sells):
        raise ValueError("a footprint's price_bins, buy_vol and sell_vol differ in length")
    volume = [b + s for b, s in zip(buys, sells)]
    delta = [b - s for b, s in zip(buys, sells)]
    total_volume = sum(volume, 0.0)
    total_delta = sum(delta, 0.0)
    if not prices:
        return FootprintReadout([], [], [], 0.0, 0.0, None, None, None, 0.0)
    poc = _point_of_control(prices, volume)
    low, high, area = _value_area(volume, poc, total_volume * value_area_share)
    height = price_bin if price_bin is not None else _smallest_gap(prices)
    imbalances = _imbalances(prices, buys, sells, height, ratio, min_volume)
    return FootprintReadout(
        prices, volume, delta, total_volume, total_delta, prices[poc], prices[low],
        prices[high], area, imbalances, _stacks(imbalances, height, stack))


def frame_readouts(frame: Mapping[str, Any], spec: Optional[Mapping[str, Any]] = None,
                   **options: Any) -> List[Dict[str, Any]]:
    """Readouts of every footprint panel of a parsed frame, as JSON-ready dicts with the
    panel's position under "panel". ``spec``, when given, supplies each panel's price_bin
    (the panels of a frame follow the spec's list)."""
    configs: Sequence[Any] = list((spec or {}).get("panels") or [])
    out = []
    for index, panel in enumerate(frame.get("panels") or []):
        if panel.get("kind") != "footprint":
            continue
        config = configs[index] if index < len(configs) else None
        height = config.get("price_bin", 1.0) if isinstance(config, dict) else None
        readout = footprint_readout(panel, price_bin=_bin_height(height), **options)
        out.append({"panel": index, **readout.as_json()})
    return out


# -- the rules ------------------------------------------------------------------------------

def _point_of_control(prices: List[float], volume: List[float]) -> int:
    middle = (prices[0] + prices[-1]) / 2
    best = 0
    for index in range(1, len(prices)):
        if volume[index] > volume[best] or (
                volume[index] == volume[best]
                and abs(prices[index] - middle) < abs(prices[best] - middle)):
            best = index
    return best


def _value_area(volume: List[float], poc: int, target: float) -> "tuple[int, int, float]":
    low = high = poc
    held = volume[poc]
    while held < target and (low > 0 or high < len(volume) - 1):
        below = volume[low - 1] if low > 0 else None
        above = volume[high + 1] if high < len(volume) - 1 else None
        if above is None or (below is not None and below >= above):
            low -= 1
            held += volume[low]
        else:
            high += 1
            held += volume[high]
    return low, high, held


def _imbalances(prices: List[float], buys: List[float], sells: List[float],
                height: Optional[float], ratio: float, min_volume: float) -> List[Imbalance]:
    found: List[Imbalance] = []
    last = len(prices) - 1
    for index, price in enumerate(prices):
        if index > 0:
            below = sells[index - 1] if _adjacent(prices[index - 1], price, height) else 0.0
            item = _imbalance(price, "buy", buys[index], below, ratio, min_volume)
            if item:
                found.append(item)
        if index < last:
            above = buys[index + 1] if _adjacent(price, prices[index + 1], height) else 0.0
            item = _imbalance(price, "sell", sells[index], above, ratio, min_volume)
            if item:
                found.append(item)
    return found


def _imbalance(price: float, side: str, volume: float, against: float, ratio: float,
               min_volume: float) -> Optional[Imbalance]:
    if not (volume > 0 and volume >= min_volume and volume >= ratio * against):
        return None
    share = volume / against if against > 0 else math.inf
    return Imbalance(price, side, volume, against, share)


def _stacks(imbalances: List[Imbalance], height: Optional[float], least: int) -> List[StackedRun]:
    runs: List[StackedRun] = []
    for side in ("buy", "sell"):
        prices = [item.price for item in imbalances if item.side == side]
        start = 0
        for index in range(1, len(prices) + 1):
            if index == len(prices) or not _adjacent(prices[index - 1], prices[index], height):
                if index - start >= least:
                    runs.append(StackedRun(side, prices[start], prices[index - 1], index - start))
                start = index
    runs.sort(key=lambda run: (run.low, run.side))
    return runs


def _adjacent(lower: float, upper: float, height: Optional[float]) -> bool:
    if height is None:
        return False
    return abs(upper - lower - height) <= height * _ADJACENT_SLACK


def _smallest_gap(prices: List[float]) -> Optional[float]:
    gaps = [b - a for a, b in zip(prices, prices[1:]) if b - a > 0]
    return min(gaps) if gaps else None


def _bin_height(value: Any) -> Optional[float]:
    if isinstance(value, (int, float)) and not isinstance(value, bool) and value > 0 \
            and math.isfinite(value):
        return float(value)
    return None


def _floats(values: Sequence[Any]) -> List[float]:
    return [float(v) if isinstance(v, (int, float)) and math.isfinite(v) else 0.0
            for v in values]


def _finite_or_none(value: float) -> Optional[float]:
    return value if math.isfinite(value) else None
