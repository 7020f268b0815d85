"""Synthetic market data for one perpetual future, for demos, tests and benchmarks.

Everything comes from one seeded ``random.Random``: the same arguments always give the
same text, byte for byte. Standard library only.

The market model is simple but keeps the series consistent with each other:

- a mid price that follows a random walk in 100 ms steps, with slowly changing volatility;
- an order book one tick wide around that mid, ``book_depth`` levels per side, sent as one
  snapshot and then one diff every 100 ms (levels that leave or enter the depth range as the
  mid moves, and a few size changes and cancels near the top); round prices hold larger
  resting orders, so the book heatmap shows them as bands;
- trades at the best bid or ask, more of them on the side the price moves to;
- 1-minute candles built from those trades (open, high, low, close, volume);
- open-interest samples every 10 s and funding-rate samples every minute, the rate following
  the premium of the price over its slow average;
- liquidation bursts: now and then the price runs a few tenths of a percent in a few seconds,
  forcing out longs (price falls) or shorts (price rises), each liquidation also printing as
  a trade and taking its size out of open interest.

Records are written in their compact array forms (``[ts, price, qty, side]``), which keeps an
hour of data at a few megabytes.

``preset="dense"`` gives instead data at the density of a real full-depth exchange feed (about
740 level changes a second, books of some 4,600 levels a side; see
:mod:`tavrin_ovra.dense_sample`, which needs NumPy). It is written straight as text, so
``write_sample`` streams a day of it to a file without holding it in memory.
"""

from __future__ import annotations

import io
import json
import math
import os
import random
from statistics import NormalDist
from typing import Any, Callable, Dict, List, Optional, Union

__all__ = [
    "DEFAULT_SEED",
    "DEFAULT_START_TS",
    "PRESETS",
    "SYMBOL",
    "generate_sample",
    "sample_dataset",
    "sample_spec",
    "write_sample",
]

DEFAULT_SEED = 7
#: 2024-03-01 00:00:00 UTC, in milliseconds.
DEFAULT_START_TS = 1_709_251_200_000
SYMBOL = "BTC-PERP"
PRESETS = ("default", "dense")

TICK = 1.0
STEP_MS = 100
CANDLE_MS = 60_000
OI_EVERY_MS = 10_000
FUNDING_EVERY_MS = 60_000

_START_PRICE = 64_000.0
_START_OI = 82_500.0
_TOP_LEVELS = 20  # random size changes land within this many levels of the touch
# Resting orders are larger at round prices (every 100 and every 25), counted in ticks.
_BIG_WALL = round(100 / TICK)
_SMALL_WALL = round(25 / TICK)
# Level sizes vary by a log-normal factor; the book needs hundreds of thousands of them, so
# they come from a fixed table of its quantiles, indexed by random bits, not from gauss().
_SPREAD_BITS = 12
_SIZE_SPREAD = [math.exp(0.7 * NormalDist().inv_cdf((i + 0.5) / 4096)) for i in range(4096)]
_SLACK = 20  # how far the far end of a side may drift before it is trimmed or refilled

Progress = Callable[[float], None]
Row = List[Any]  # one record in its array form
Records = Dict[str, List[Row]]


def generate_sample(
    minutes: float = 60.0,
    seed: int = DEFAULT_SEED,
    book_depth: Optional[int] = None,
    *,
    start_ts: int = DEFAULT_START_TS,
    progress: Optional[Progress] = None,
    preset: str = "default",
) -> Records:
    """The sample as Python lists, keyed like the dataset object ("candles", "trades", ...).

    ``book_depth`` is the number of levels a side (default 300, or about 4,600 for the dense
    preset). ``progress``, if given, is called with the fraction done (0.0 to 1.0) now and then.
    """
    depth = _check(minutes, book_depth, preset)
    if preset == "dense":
        return json.loads(sample_dataset(minutes, seed, depth, start_ts=start_ts,
                                         progress=progress, preset=preset))
    steps = max(1, int(round(minutes * 60_000 / STEP_MS)))
    return _Market(random.Random(seed), depth, start_ts).run(steps, progress)


def _check(minutes: float, book_depth: Optional[int], preset: str) -> int:
    if preset not in PRESETS:
        raise ValueError("preset must be one of " + ", ".join(PRESETS))
    if not minutes > 0 or math.isinf(minutes):
        raise ValueError("minutes must be a positive number")
    if book_depth is None:
        return _dense().DENSE_DEPTH if preset == "dense" else 300
    if book_depth < 1:
        raise ValueError("book_depth must be at least 1")
    return book_depth


def _dense() -> Any:
    try:
        from . import dense_sample
    except ImportError as exc:  # NumPy missing
        raise ImportError("the dense sample needs NumPy (pip install numpy)") from exc
    return dense_sample


def sample_dataset(
    minutes: float = 60.0,
    seed: int = DEFAULT_SEED,
    book_depth: Optional[int] = None,
    *,
    start_ts: int = DEFAULT_START_TS,
    progress: Optional[Progress] = None,
    preset: str = "default",
) -> str:
    """The sample as a dataset JSON text, ready to go into a "load" command."""
    depth = _check(minutes, book_depth, preset)
    if preset == "dense":
        out = io.StringIO()
        _dense().write_dense(out, minutes, seed, depth, start_ts, progress)
        return out.getvalue()
    records = generate_sample(minutes, seed, depth, start_ts=start_ts, progress=progress)
    return json.dumps(records, separators=(",", ":"))


def write_sample(
    path: Union[str, "os.PathLike[str]"],
    minutes: float = 60.0,
    seed: int = DEFAULT_SEED,
    book_depth: Optional[int] = None,
    *,
    start_ts: int = DEFAULT_START_TS,
    progress: Optional[Progress] = None,
    preset: str = "default",
) -> int:
    """Write the dataset JSON text to ``path``; returns the number of bytes written.

    The dense preset streams its text to the file as it is made."""
    depth = _check(minutes, book_depth, preset)
    if preset == "dense":
        with open(path, "w", encoding="utf-8", newline="", buffering=1 << 22) as out:
            _dense().write_dense(out, minutes, seed, depth, start_ts, progress)
        return os.path.getsize(path)
    text = sample_dataset(minutes, seed, depth, start_ts=start_ts, progress=progress)
    data = text.encode("utf-8")
    with open(path, "wb") as out:
        out.write(data)
    return len(data)


def sample_spec(symbol: Optional[str] = None, dataset_ref: str = "sample",
                preset: str = "default") -> str:
    """A spec with all four panels, sized for the sample's prices and time scale."""
    if preset == "dense":  # ether-like prices: bins of half a unit
        symbol = symbol or "ETH-PERP"
        panels = [
            {"kind": "footprint", "price_bin": 0.5, "bucket_ms": 60_000},
            {"kind": "book_heatmap", "price_bin": 0.5, "bucket_ms": 30_000, "depth_levels": 80},
            {"kind": "liquidation_map", "price_bin": 0.25},
            {"kind": "funding_oi_divergence", "bucket_ms": 60_000},
        ]
    else:
        panels = [
            {"kind": "footprint", "price_bin": 10.0, "bucket_ms": 60_000},
            {"kind": "book_heatmap", "price_bin": 10.0, "bucket_ms": 30_000, "depth_levels": 80},
            {"kind": "liquidation_map", "price_bin": 5.0},
            {"kind": "funding_oi_divergence", "bucket_ms": 60_000},
        ]
    spec = {"dataset_ref": dataset_ref, "symbol": symbol or SYMBOL, "panels": panels}
    return json.dumps(spec, indent=2)


def _poisson(rng: random.Random, lam: float) -> int:
    # Knuth's product of uniforms: fine for the small rates drawn here (well below 30).
    limit = math.exp(-lam)
    count, product = 0, rng.random()
    while product > limit:
        count += 1
        product *= rng.random()
    return count


def _round_qty(qty: float) -> float:
    return max(0.001, round(qty, 3))


class _Market:
    """State of the simulated market, advanced one 100 ms step at a time."""

    def __init__(self, rng: random.Random, depth: int, start_ts: int) -> None:
        self.rng = rng
        self.depth = depth
        self.start_ts = start_ts
        self.mid = _START_PRICE
        self.slow_mid = _START_PRICE
        self.vol = 1.0  # volatility multiplier, mean-reverting in log
        self.oi = _START_OI
        self.funding = 0.0001  # rate per funding interval
        self.bids: Dict[int, float] = {}  # price in ticks -> resting quantity
        self.asks: Dict[int, float] = {}
        self.bid_top = 0
        self.bid_low = 0  # lowest bid level kept
        self.ask_high = 0  # highest ask level kept
        self.burst_left = 0
        self.burst_drift = 0.0
        self.next_burst = 0
        self.out: Records = {
            "candles": [],
            "trades": [],
            "book": [],
            "funding": [],
            "oi": [],
            "liquidations": [],
        }
        self.window_volume = 0.0  # traded since the last open-interest sample
        self.window_liquidated = 0.0

    # -- the book -------------------------------------------------------------------------

    def level_qty(self, idx: int, distance: int) -> float:
        rng = self.rng
        qty = (0.4 + distance * 0.004) * _SIZE_SPREAD[rng.getrandbits(_SPREAD_BITS)]
        if idx % _BIG_WALL == 0:
            qty *= 9.0 + 4.0 * rng.random()
        elif idx % _SMALL_WALL == 0:
            qty *= 3.0 + 2.0 * rng.random()
        return max(0.001, round(qty, 3))

    def snapshot(self, ts: int) -> None:
        top = self.bid_top = math.floor(self.mid / TICK)
        self.bid_low = top - self.depth + 1
        self.ask_high = top + self.depth
        for idx in range(self.bid_low, top + 1):
            self.bids[idx] = self.level_qty(idx, top - idx)
        for idx in range(top + 1, self.ask_high + 1):
            self.asks[idx] = self.level_qty(idx, idx - top - 1)
        bids = [[i * TICK, self.bids[i]] for i in sorted(self.bids, reverse=True)]
        asks = [[i * TICK, self.asks[i]] for i in sorted(self.asks)]
        self.out["book"].append([ts, "snapshot", bids, asks])

    def fill(self, book: Dict[int, float], lo: int, hi: int, top: int, bids: bool,
             changes: List[Row]) -> None:
        for idx in range(lo, hi + 1):
            qty = self.level_qty(idx, top - idx if bids else idx - top - 1)
            book[idx] = qty
            changes.append([idx * TICK, qty])

    @staticmethod
    def clear(book: Dict[int, float], lo: int, hi: int, changes: List[Row]) -> None:
        for idx in range(lo, hi + 1):
            if book.pop(idx, None) is not None:
                changes.append([idx * TICK, 0.0])

    def follow_mid(self, top: int, bid_changes: List[Row], ask_changes: List[Row]) -> None:
        """Move the touch to ``top``: the side the price moved into loses the levels it
        crossed, the other side gains them. The far ends follow only once they are
        ``_SLACK`` levels off, so a price going back and forth does not churn them."""
        old = self.bid_top
        if top > old:
            self.fill(self.bids, old + 1, top, top, True, bid_changes)
            self.clear(self.asks, old + 1, top, ask_changes)
        else:
            self.clear(self.bids, top + 1, old, bid_changes)
            self.fill(self.asks, top + 1, old, top, False, ask_changes)
        self.bid_top = top
        want_low, want_high = top - self.depth + 1, top + self.depth
        if self.bid_low < want_low - _SLACK:
            self.clear(self.bids, self.bid_low, want_low - 1, bid_changes)
            self.bid_low = want_low
        elif self.bid_low > want_low + _SLACK:
            self.fill(self.bids, want_low, self.bid_low - 1, top, True, bid_changes)
            self.bid_low = want_low
        if self.ask_high > want_high + _SLACK:
            self.clear(self.asks, want_high + 1, self.ask_high, ask_changes)
            self.ask_high = want_high
        elif self.ask_high < want_high - _SLACK:
            self.fill(self.asks, self.ask_high + 1, want_high, top, False, ask_changes)
            self.ask_high = want_high

    def touch_up(self, book: Dict[int, float], top: int, bids: bool,
                 changes: List[Row]) -> None:
        """A few size changes and cancels among the levels nearest the touch."""
        rng = self.rng
        for _ in range(1 + _poisson(rng, 1.2 * self.vol)):
            distance = min(int(rng.expovariate(0.25)), min(_TOP_LEVELS, self.depth) - 1)
            idx = top - distance if bids else top + 1 + distance
            if rng.random() < 0.12 and idx in book:
                del book[idx]
                changes.append([idx * TICK, 0.0])
            else:
                qty = self.level_qty(idx, distance)
                book[idx] = qty
                changes.append([idx * TICK, qty])
        if self.depth > _TOP_LEVELS and rng.random() < 0.5:
            # now and then an order further out is placed or resized
            distance = rng.randrange(_TOP_LEVELS, self.depth)
            idx = top - distance if bids else top + 1 + distance
            qty = self.level_qty(idx, distance)
            book[idx] = qty
            changes.append([idx * TICK, qty])

    def book_step(self, ts: int) -> None:
        top = math.floor(self.mid / TICK)
        bid_changes: List[Row] = []
        ask_changes: List[Row] = []
        if top != self.bid_top:
            self.follow_mid(top, bid_changes, ask_changes)
        self.touch_up(self.bids, top, True, bid_changes)
        self.touch_up(self.asks, top, False, ask_changes)
        self.out["book"].append([ts, "diff", bid_changes, ask_changes])

    # -- price, trades, liquidations ------------------------------------------------------

    def schedule_burst(self, step: int) -> None:
        # roughly one liquidation cascade every eight minutes
        self.next_burst = step + 1800 + int(self.rng.expovariate(1.0 / 3000.0))

    def start_burst(self) -> None:
        rng = self.rng
        steps = rng.randint(30, 80)
        move = self.mid * rng.uniform(0.001, 0.0022) * rng.choice((-1.0, 1.0))
        self.burst_left = steps
        self.burst_drift = move / steps
        self.vol = min(self.vol * 1.8, 4.0)

    def move_price(self) -> float:
        rng = self.rng
        before = self.mid
        # a weak pull back to the opening price keeps a long sample within a few hundred
        self.mid += rng.gauss(0.0, 0.7 * self.vol) + (_START_PRICE - self.mid) * 0.00003
        if self.burst_left:
            self.mid += self.burst_drift
            self.burst_left -= 1
        self.slow_mid += (self.mid - self.slow_mid) * 0.0002
        return self.mid - before

    def trades_step(self, ts: int, moved: float) -> None:
        rng = self.rng
        trades = self.out["trades"]
        buy_share = 0.5 + 0.4 * math.tanh(moved / (1.0 * self.vol))
        count = _poisson(rng, 1.1 * self.vol)
        offsets = sorted(rng.randrange(STEP_MS) for _ in range(count))
        for offset in offsets:
            qty = _round_qty(math.exp(rng.gauss(-3.0, 1.25)))
            through = 1 if qty > 1.0 and rng.random() < 0.5 else 0
            if rng.random() < buy_share:
                price, side = (self.bid_top + 1 + through) * TICK, "buy"
            else:
                price, side = (self.bid_top - through) * TICK, "sell"
            trades.append([ts + offset, price, qty, side])
            self.window_volume += qty

    def liquidations_step(self, ts: int) -> None:
        rng = self.rng
        if self.burst_left:
            count = _poisson(rng, 0.45)
            scale = 0.0
        else:
            count = 1 if rng.random() < 0.0015 else 0  # a lone one every minute or so
            scale = -1.2
        longs = self.burst_drift < 0 if self.burst_left else rng.random() < 0.5
        for _ in range(count):
            qty = _round_qty(math.exp(rng.gauss(scale - 0.6, 1.0)))
            slip = int(rng.expovariate(0.5))
            if longs:
                # a long is closed by a forced sell at or below the bid
                price, side, trade_side = (self.bid_top - slip) * TICK, "long", "sell"
            else:
                price, side, trade_side = (self.bid_top + 1 + slip) * TICK, "short", "buy"
            at = ts + rng.randrange(STEP_MS)
            self.out["liquidations"].append([at, price, qty, side])
            self.out["trades"].append([at, price, qty, trade_side])
            self.window_volume += qty
            self.window_liquidated += qty

    # -- slow series ----------------------------------------------------------------------

    def oi_sample(self, ts: int) -> None:
        rng = self.rng
        opened = self.window_volume * rng.uniform(-0.08, 0.12)
        self.oi += opened + rng.gauss(0.0, 4.0) - self.window_liquidated
        self.oi = max(self.oi, 1000.0)
        self.out["oi"].append([ts, round(self.oi, 3)])
        self.window_volume = 0.0
        self.window_liquidated = 0.0

    def funding_sample(self, ts: int) -> None:
        premium = (self.mid - self.slow_mid) / self.slow_mid
        target = 0.0001 + 0.05 * premium
        self.funding += (target - self.funding) * 0.35 + self.rng.gauss(0.0, 0.000002)
        self.funding = min(max(self.funding, -0.00075), 0.00075)
        self.out["funding"].append([ts, round(self.funding, 8)])

    def candles_from_trades(self, end_ts: int) -> None:
        """One candle per minute from the trades; a minute without trades repeats the close."""
        trades = self.out["trades"]
        candles = self.out["candles"]
        close = _START_PRICE
        i = 0
        for minute in range(self.start_ts, end_ts, CANDLE_MS):
            stop = minute + CANDLE_MS
            high, low, volume, open_ = -math.inf, math.inf, 0.0, None
            while i < len(trades) and trades[i][0] < stop:
                price = trades[i][1]
                if open_ is None:
                    open_ = price
                high, low = max(high, price), min(low, price)
                close = price
                volume += trades[i][2]
                i += 1
            if open_ is None:
                candles.append([minute, close, close, close, close, 0.0])
            else:
                candles.append([minute, open_, high, low, close, round(volume, 3)])

    def run(self, steps: int, progress: Optional[Progress]) -> Records:
        rng = self.rng
        ts = self.start_ts
        self.snapshot(ts)
        self.schedule_burst(0)
        self.oi_sample(ts)
        self.funding_sample(ts)
        report_every = max(1, steps // 50)
        for step in range(1, steps):
            ts = self.start_ts + step * STEP_MS
            if step % 10 == 0:
                self.vol = math.exp(0.97 * math.log(self.vol) + rng.gauss(0.0, 0.05))
            if step == self.next_burst:
                self.start_burst()
                self.schedule_burst(step)
            moved = self.move_price()
            self.book_step(ts)
            self.trades_step(ts, moved)
            self.liquidations_step(ts)
            if ts % OI_EVERY_MS == self.start_ts % OI_EVERY_MS:
                self.oi_sample(ts)
            if ts % FUNDING_EVERY_MS == self.start_ts % FUNDING_EVERY_MS:
                self.funding_sample(ts)
            if progress is not None and step % report_every == 0:
                progress(step / steps)
        # within one step, liquidation prints land after the step's trades: put them in order
        self.out["trades"].sort(key=lambda t: t[0])
        self.out["liquidations"].sort(key=lambda t: t[0])
        self.candles_from_trades(self.start_ts + steps * STEP_MS)
        if progress is not None:
            progress(1.0)
        return self.out
