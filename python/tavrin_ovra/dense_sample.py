"""Synthetic market data at the density of a busy exchange feed, written straight as JSON text.

The dense preset of :mod:`tavrin_ovra.sample`. It follows the shape of a recorded full-depth
feed of a large perpetual future (an ether contract on a 0.01 tick): an order-book diff about
every 54 ms holding some forty level changes on average (a few hundred in a busy one), about
740 level changes and 28 trades a second, and books of 4,400 to 4,800 levels a side. Changes
fall over the whole depth, most of them within a thousand ticks of the best price: levels are
resized, removed and put back; the best prices move in jumps that take out the levels they
cross. A day of it holds about 64 million level changes.

How the book keeps its shape: the depth is cut into bands of distance from the best price, each
with the share of its ticks that hold an order (nearly all near the top, a few percent far
out) and with the rates of size changes and removals measured per band in the recording.
A change that falls on a held level resizes it or removes it; one that falls on an empty tick
adds a level with the probability that keeps the band's share steady. Far out only round
prices (multiples of 10 ticks, then of 1,000) are used, as resting orders there are.

Generation runs in blocks of 20 book events with NumPy: the random draws of a block are made at
once, the levels the best prices can reach during the block are handled one event at a time,
and the rest in a few vectorised passes. Text goes to the output as each block is done; only
the trades (a few tens of bytes each) are kept until the end, for the candles. The same seed
gives the same bytes with the same NumPy version (the generator's streams are not promised
across NumPy releases).

Every hour the book is sent again as a snapshot, as a recorder does when it resynchronises.
Funding, open interest, liquidation cascades and candles follow the rules of the default preset.
"""

from __future__ import annotations

import math
from typing import Callable, List, Optional, TextIO, Tuple

import numpy as np

__all__ = ["DENSE_DEPTH", "DENSE_SYMBOL", "write_dense"]

DENSE_SYMBOL = "ETH-PERP"
DENSE_DEPTH = 4600  # levels a side the book settles at

TICKS_PER_UNIT = 100  # 0.01 tick
_START_TICK = 340_000  # 3,400.00
_TICK_LIMIT = 1_200_000  # prices are kept below 12,000.00
_START_OI = 1_350_000.0

BLOCK_EVENTS = 20
CANDLE_MS = 60_000
OI_EVERY_MS = 10_000
FUNDING_EVERY_MS = 60_000
SNAPSHOT_EVERY_MS = 3_600_000

_GAP_MEAN_MS = 54.0
_GAP_SD_MS = 2.6
# Level changes per second the band rates add up to before _RATE brings them to about 740.
_RATE = 0.86
_TAKERS_PER_S = 7.0  # aggressive orders; each prints as one to many trades at one time
_SINGLE_FILL = 0.62  # share of those that print one trade
_MEAN_EXTRA_FILLS = 7.9

# Bands of distance from the side's best price, in ticks: [lo, hi), the grid of prices used
# there, levels held, then size changes and removals per side in 480 s (adds balance removals).
# Removals between 1,000 and 30,000 ticks are several times the recording's, so that levels
# the best price leaves behind as it drifts are turned over within minutes and the book keeps
# its size over a day.
_BANDS: List[Tuple[int, int, int, float, float, float]] = [
    (0, 1, 1, 1.0, 4760.0, 0.0),
    (1, 3, 1, 1.5, 336.0, 220.0),
    (3, 10, 1, 3.5, 884.0, 663.0),
    (10, 30, 1, 13.5, 4446.0, 1541.0),
    (30, 100, 1, 54.5, 31045.0, 2529.0),
    (100, 300, 1, 183.0, 49072.0, 1535.0),
    (300, 1000, 1, 581.0, 25348.0, 1751.0),
    (1000, 3000, 1, 920.0, 3350.0, 2430.0),
    (3000, 10000, 1, 1828.0, 3880.0, 4800.0),
    (10000, 30000, 1, 516.0, 861.0, 1000.0),
    (30000, 100000, 10, 345.0, 1751.0, 290.0),
    (100000, 300000, 1000, 75.0, 7558.0, 9011.0),
]
_BAND_LEVELS = sum(band[3] for band in _BANDS)
_BAND_SECONDS = 480.0

Progress = Callable[[float], None]


class _Bands:
    """Per band: the share of ticks held, the chance that a change on a held level removes it,
    the chance that one on an empty tick adds a level, and the rate of changes drawn."""

    def __init__(self, depth: int) -> None:
        scale = depth / _BAND_LEVELS
        lo, hi, step, levels, changes, removes = (np.array(c, dtype=float) for c in zip(*_BANDS))
        self.lo = lo.astype(np.int64)
        self.width = (hi - lo).astype(np.int64)
        self.step = step.astype(np.int64)
        held = np.minimum(levels * scale / ((hi - lo) / step), 0.97)
        held[0] = 1.0  # the best level is always there
        self.held = held
        touched = changes + removes
        self.remove = removes / touched
        empty = np.maximum(1.0 - held, 1e-12)
        self.add = np.minimum(removes * held / (touched * empty), 1.0)
        draws = touched / held / _BAND_SECONDS * _RATE  # draws a second, per side
        self.rate = float(draws.sum())
        self.weights = draws / draws.sum()


def _level_qty(rng: np.random.Generator, ticks: np.ndarray, distance: np.ndarray) -> np.ndarray:
    """Resting sizes in thousandths: log-normal, larger further out and at round prices."""
    median = 0.12 * np.sqrt(1.0 + distance / 150.0)
    qty = median * np.exp(rng.normal(0.0, 1.9, ticks.shape))
    qty = np.where(ticks % 100 == 0, qty * rng.uniform(4.0, 9.0, ticks.shape), qty)
    qty = np.where(ticks % 2500 == 0, qty * 3.0, qty)
    return np.clip(np.rint(qty * 1000.0), 1, 50_000_000).astype(np.int64)


class _Prices(dict):
    """Level openings "[price," by tick, made on first use."""

    def __missing__(self, tick: int) -> str:
        text = self[tick] = "[%r," % (tick / TICKS_PER_UNIT)
        return text


class _Text:
    """Number texts for the output: prices by tick, sizes in thousandths."""

    def __init__(self) -> None:
        self.qty = ["%r" % (k / 1000) for k in range(1 << 16)]
        self.qty[0] = "0"
        self.closing = [q + "]" for q in self.qty]
        self.prices = _Prices()

    def qty_of(self, k: int) -> str:
        return self.qty[k] if k < 65536 else "%r" % (k / 1000)

    def price_of(self, tick: int) -> str:
        return self.prices[tick][1:-1]

    def levels(self, ticks: List[int], qtys: List[int]) -> List[str]:
        prices, closing = self.prices, self.closing
        return [prices[t] + (closing[k] if k < 65536 else "%r]" % (k / 1000))
                for t, k in zip(ticks, qtys)]


class _DenseMarket:
    def __init__(self, seed: int, depth: int, start_ts: int, out: TextIO) -> None:
        self.rng = np.random.default_rng(seed)
        self.bands = _Bands(depth)
        self.start_ts = start_ts
        self.out = out
        self.text = _Text()
        self.bids = np.zeros(_TICK_LIMIT, dtype=np.int64)  # tick -> size in thousandths
        self.asks = np.zeros(_TICK_LIMIT, dtype=np.int64)
        self.mid = float(_START_TICK) + 0.5
        self.bid_top = _START_TICK
        self.ask_top = _START_TICK + 1
        self.slow_mid = self.mid
        self.vol = 1.0
        self.oi = _START_OI
        self.funding = 0.0001
        self.burst_left = 0
        self.burst_drift = 0.0
        self.next_burst_ts = start_ts + self.burst_gap()
        self.trade_parts: List[np.ndarray] = []  # rows of ts, tick, thousandths, side (0 buy)
        self.liquidations: List[Tuple[int, int, int, int]] = []  # ts, tick, thousandths, long?
        self.volume_since_oi = 0
        self.liquidated_since_oi = 0
        self.oi_rows: List[str] = []
        self.funding_rows: List[str] = []
        self.first_event = True

    # -- the book -------------------------------------------------------------------------

    def fill_book(self) -> None:
        """The settled book: every band holds its share of ticks."""
        rng, bands = self.rng, self.bands
        for side, top, sign in ((self.bids, self.bid_top, -1), (self.asks, self.ask_top, 1)):
            for b in range(len(bands.lo)):
                step = int(bands.step[b])
                d = np.arange(int(bands.lo[b]), int(bands.lo[b] + bands.width[b]), dtype=np.int64)
                ticks = np.unique(self.snap(top + sign * d, step, sign))
                ticks = ticks[(ticks > 0) & (ticks < _TICK_LIMIT)]
                keep = ticks[rng.random(ticks.shape) < bands.held[b]]
                side[keep] = _level_qty(rng, keep, np.abs(keep - top))
        self.bids[self.bid_top] = max(self.bids[self.bid_top], 1)
        self.asks[self.ask_top] = max(self.asks[self.ask_top], 1)

    @staticmethod
    def snap(ticks: np.ndarray, step: int, sign: int) -> np.ndarray:
        if step == 1:
            return ticks
        # away from the best price: bids down, asks up
        return ticks // step * step if sign < 0 else -((-ticks) // step) * step

    def write_event(self, ts: int, kind: str, bid_text: List[str], ask_text: List[str]) -> None:
        head = "" if self.first_event else ","
        self.first_event = False
        self.out.write('%s[%d,"%s",[%s],[%s]]' % (head, ts, kind, ",".join(bid_text),
                                                  ",".join(ask_text)))

    def snapshot(self, ts: int) -> None:
        bids = np.flatnonzero(self.bids)[::-1]
        asks = np.flatnonzero(self.asks)
        self.write_event(ts, "snapshot",
                         self.text.levels(bids.tolist(), self.bids[bids].tolist()),
                         self.text.levels(asks.tolist(), self.asks[asks].tolist()))

    # -- one block of events ----------------------------------------------------------------

    def price_path(self, n: int) -> Tuple[np.ndarray, np.ndarray]:
        """Best bid and best ask after each event: the price jumps now and then, by a few
        ticks, more often when volatile; the spread is one tick, now and then more."""
        rng = self.rng
        jumps = rng.random(n) < 0.15 * self.vol
        sizes = rng.geometric(0.25, n) * np.where(rng.random(n) < 0.5, -1, 1)
        steps = np.where(jumps, sizes, 0).astype(float)
        steps += (_START_TICK - self.mid) * 1e-6
        if self.burst_left:
            use = min(self.burst_left, n)
            steps[:use] += self.burst_drift
            self.burst_left -= use
        mids = self.mid + np.cumsum(steps)
        self.mid = float(mids[-1])
        bid = np.floor(mids).astype(np.int64)
        spread = 1 + (rng.random(n) < 0.04) * rng.integers(1, 3, n)
        return bid, bid + spread

    def draws(self, n_events: int, seconds: float, sign: int, tops: np.ndarray):
        """The level changes drawn for one side over a block: event, tick, band, size."""
        rng, bands = self.rng, self.bands
        count = rng.poisson(bands.rate * seconds * self.vol)
        weights = np.exp(rng.normal(0.0, 1.3, n_events))  # busy and quiet events
        event = np.sort(rng.choice(n_events, size=count, p=weights / weights.sum()))
        band = rng.choice(len(bands.lo), size=count, p=bands.weights)
        distance = bands.lo[band] + (rng.random(count) * bands.width[band]).astype(np.int64)
        ticks = tops[event] + sign * distance
        for b in np.flatnonzero(bands.step > 1):
            at = band == b
            ticks[at] = self.snap(ticks[at], int(bands.step[b]), sign)
        ticks = np.clip(ticks, 1, _TICK_LIMIT - 1)
        qty = _level_qty(rng, ticks, distance)
        return event, ticks, band, qty, rng.random(count)

    def settle(self, side: np.ndarray, ticks, band, qty, chance) -> np.ndarray:
        """Decide the changes far from the best prices, in order per tick; returns the size
        written by each draw, or -1 where the draw writes nothing."""
        bands = self.bands
        written = np.full(len(ticks), -1, dtype=np.int64)
        if not len(ticks):
            return written
        order = np.argsort(ticks, kind="stable")
        sorted_ticks = ticks[order]
        first = np.r_[True, sorted_ticks[1:] != sorted_ticks[:-1]]
        starts = np.maximum.accumulate(np.where(first, np.arange(len(order)), 0))
        rank = np.empty(len(order), dtype=np.int64)
        rank[order] = np.arange(len(order)) - starts
        by_rank = np.argsort(rank, kind="stable")
        bounds = np.searchsorted(rank[by_rank], np.arange(rank.max() + 2))
        for r in range(len(bounds) - 1):
            at = by_rank[bounds[r]:bounds[r + 1]]
            t, b, u = ticks[at], band[at], chance[at]
            held = side[t] > 0
            remove = held & (u < bands.remove[b])
            add = ~held & (u < bands.add[b])
            new = np.where(remove, 0, qty[at])
            writes = held | add
            side[t[writes]] = new[writes]
            written[at[writes]] = new[writes]
        return written

    def near_change(self, side: np.ndarray, tick: int, band: int, qty: int, u: float,
                    out: List[Tuple[int, int]]) -> None:
        bands = self.bands
        if side[tick] > 0:
            if u < bands.remove[band]:
                side[tick] = 0
                out.append((tick, 0))
            else:
                side[tick] = qty
                out.append((tick, qty))
        elif u < bands.add[band]:
            side[tick] = qty
            out.append((tick, qty))

    def block(self, stamps: np.ndarray) -> None:
        n = len(stamps)
        seconds = n * _GAP_MEAN_MS / 1000.0
        bid_tops, ask_tops = self.price_path(n)
        bid_floor, ask_ceiling = int(bid_tops.min()), int(ask_tops.max())
        sides = []
        for sign, side, tops, reach in ((-1, self.bids, bid_tops, bid_floor),
                                        (1, self.asks, ask_tops, ask_ceiling)):
            event, ticks, band, qty, chance = self.draws(n, seconds, sign, tops)
            near = ticks >= reach if sign < 0 else ticks <= reach
            far = ~near
            written = self.settle(side, ticks[far], band[far], qty[far], chance[far])
            far_event = event[far]
            keep = written >= 0
            far_text = self.text.levels(ticks[far][keep].tolist(), written[keep].tolist())
            far_bounds = np.searchsorted(far_event[keep], np.arange(n + 1)).tolist()
            near_rows = list(zip(event[near].tolist(), ticks[near].tolist(),
                                 band[near].tolist(), qty[near].tolist(), chance[near].tolist()))
            sides.append((side, sign, far_text, far_bounds, near_rows))
        top_ticks = np.stack([bid_tops, ask_tops], axis=1).ravel()
        new_qty = _level_qty(self.rng, top_ticks, np.zeros(2 * n)).tolist()  # event e, side s: 2e+s
        cursors = [0, 0]
        for e in range(n):
            texts = []
            for s, (side, sign, far_text, far_bounds, near_rows) in enumerate(sides):
                changes: List[Tuple[int, int]] = []
                top = int(bid_tops[e] if sign < 0 else ask_tops[e])
                old = self.bid_top if sign < 0 else self.ask_top
                crossed = range(top + 1, old + 1) if sign < 0 else range(old, top)
                for t in crossed:  # the levels the best price moved through
                    if side[t] > 0:
                        side[t] = 0
                        changes.append((t, 0))
                if side[top] == 0:
                    side[top] = new_qty[2 * e + s]
                    changes.append((top, new_qty[2 * e + s]))
                i = cursors[s]
                while i < len(near_rows) and near_rows[i][0] == e:
                    _, t, band, qty, u = near_rows[i]
                    if band == 0:
                        t = top  # the best level is resized, never removed
                    if (t <= top) if sign < 0 else (t >= top):
                        self.near_change(side, t, max(band, 1) if t != top else 0, qty, u,
                                         changes)
                    i += 1
                cursors[s] = i
                texts.append(self.text.levels([c[0] for c in changes], [c[1] for c in changes])
                             + far_text[far_bounds[e]:far_bounds[e + 1]])
            self.bid_top, self.ask_top = int(bid_tops[e]), int(ask_tops[e])
            self.write_event(int(stamps[e]), "diff", texts[0], texts[1])
        self.trades_block(stamps, bid_tops, ask_tops)

    # -- trades, liquidations, slow series --------------------------------------------------

    def trades_block(self, stamps: np.ndarray, bid_tops: np.ndarray, ask_tops: np.ndarray) -> None:
        rng = self.rng
        n = len(stamps)
        seconds = (int(stamps[-1]) - self.last_ts) / 1000.0
        count = rng.poisson(_TAKERS_PER_S * seconds * self.vol)
        at = np.sort(rng.integers(self.last_ts + 1, int(stamps[-1]) + 1, count))
        event = np.searchsorted(stamps, at)  # the book the order meets: before that event
        before = np.maximum(event - 1, 0)
        fills = np.where(rng.random(count) < _SINGLE_FILL, 1,
                         1 + rng.geometric(1.0 / _MEAN_EXTRA_FILLS, count))
        moves = np.diff(np.r_[self.bid_top_before, bid_tops])[before]
        buy = rng.random(count) < 0.5 + 0.3 * np.tanh(moves / 3.0)
        order = np.repeat(np.arange(count), fills)
        within = np.arange(len(order)) - np.repeat(np.cumsum(fills) - fills, fills)
        walk = within // 4
        tick = np.where(buy[order], ask_tops[before][order] + walk, bid_tops[before][order] - walk)
        qty = np.clip(np.rint(41.0 * np.exp(rng.normal(0.0, 2.5, len(order)))), 1, 2_000_000)
        rows = np.stack([at[order], tick, qty.astype(np.int64),
                         np.where(buy[order], 0, 1)], axis=1)
        self.trade_parts.append(rows)
        self.volume_since_oi += int(rows[:, 2].sum())
        self.liquidations_block(stamps, bid_tops, ask_tops)
        self.bid_top_before = int(bid_tops[-1])
        self.last_ts = int(stamps[-1])

    def liquidations_block(self, stamps, bid_tops, ask_tops) -> None:
        rng = self.rng
        seconds = (int(stamps[-1]) - self.last_ts) / 1000.0
        bursting = self.burst_left > 0
        count = rng.poisson((4.5 if bursting else 0.015) * seconds)
        scale = 2.1 if bursting else 0.9
        longs = self.burst_drift < 0 if bursting else None
        for _ in range(count):
            at = int(rng.integers(self.last_ts + 1, int(stamps[-1]) + 1))
            e = max(int(np.searchsorted(stamps, at)) - 1, 0)
            is_long = longs if longs is not None else bool(rng.random() < 0.5)
            slip = int(rng.geometric(0.3)) - 1
            tick = int(bid_tops[e]) - slip if is_long else int(ask_tops[e]) + slip
            qty = int(min(max(round(math.exp(rng.normal(scale, 1.0)) * 1000), 1), 50_000_000))
            self.liquidations.append((at, tick, qty, 1 if is_long else 0))
            self.trade_parts.append(np.array([[at, tick, qty, 1 if is_long else 0]],
                                             dtype=np.int64))
            self.volume_since_oi += qty
            self.liquidated_since_oi += qty

    def burst_gap(self) -> int:
        # roughly one liquidation cascade every eight minutes
        return 180_000 + int(self.rng.exponential(300_000.0))

    def maybe_burst(self, ts: int) -> None:
        if ts < self.next_burst_ts:
            return
        rng = self.rng
        events = int(rng.integers(60, 160))
        move = self.mid * rng.uniform(0.001, 0.0022) * (1 if rng.random() < 0.5 else -1)
        self.burst_left = events
        self.burst_drift = move / events
        self.vol = min(self.vol * 1.8, 4.0)
        self.next_burst_ts = ts + self.burst_gap()

    def oi_sample(self, ts: int) -> None:
        rng = self.rng
        opened = self.volume_since_oi / 1000.0 * rng.uniform(-0.08, 0.12)
        self.oi += opened + rng.normal(0.0, 60.0) - self.liquidated_since_oi / 1000.0
        self.oi = max(self.oi, 10_000.0)
        self.oi_rows.append("[%d,%r]" % (ts, round(self.oi, 3)))
        self.volume_since_oi = self.liquidated_since_oi = 0

    def funding_sample(self, ts: int) -> None:
        premium = (self.mid - self.slow_mid) / self.slow_mid
        target = 0.0001 + 0.05 * premium
        self.funding += (target - self.funding) * 0.35 + self.rng.normal(0.0, 0.000002)
        self.funding = min(max(self.funding, -0.00075), 0.00075)
        self.funding_rows.append("[%d,%r]" % (ts, round(self.funding, 8)))

    def slow_series(self, from_ts: int, to_ts: int) -> None:
        """Open interest and funding samples due in (from_ts, to_ts]."""
        start = self.start_ts
        for every, sample in ((OI_EVERY_MS, self.oi_sample), (FUNDING_EVERY_MS, self.funding_sample)):
            k = (from_ts - start) // every + 1
            while start + k * every <= to_ts:
                sample(start + k * every)
                k += 1

    # -- the whole sample ---------------------------------------------------------------------

    def run(self, duration_ms: int, progress: Optional[Progress]) -> None:
        rng, out = self.rng, self.out
        end_ts = self.start_ts + duration_ms
        self.fill_book()
        out.write('{"book":[')
        self.snapshot(self.start_ts)
        self.oi_sample(self.start_ts)
        self.funding_sample(self.start_ts)
        self.last_ts = self.start_ts
        self.bid_top_before = self.bid_top
        next_snapshot = self.start_ts + SNAPSHOT_EVERY_MS
        ts = float(self.start_ts)
        reported = 0.0
        while True:
            gaps = np.maximum(rng.normal(_GAP_MEAN_MS, _GAP_SD_MS, BLOCK_EVENTS), 30.0)
            stamps = np.floor(ts + np.cumsum(gaps)).astype(np.int64)
            stamps = stamps[stamps < end_ts]
            if not len(stamps):
                break
            ts = float(ts + gaps.sum())
            self.vol = math.exp(0.985 * math.log(self.vol) + rng.normal(0.0, 0.04))
            self.maybe_burst(int(stamps[0]))
            before = self.last_ts
            self.block(stamps)
            self.slow_mid += (self.mid - self.slow_mid) * 0.002
            self.slow_series(before, self.last_ts)
            if self.last_ts + 1 >= next_snapshot and self.last_ts + 1 < end_ts:
                self.snapshot(self.last_ts + 1)
                next_snapshot += SNAPSHOT_EVERY_MS
            if progress is not None and (self.last_ts - self.start_ts) / duration_ms > reported + 0.02:
                reported = (self.last_ts - self.start_ts) / duration_ms
                progress(reported)
        self.slow_series(self.last_ts, end_ts - 1)
        self.write_trades(end_ts)
        out.write('],"funding":[%s],"oi":[%s],"liquidations":[%s]}' % (
            ",".join(self.funding_rows), ",".join(self.oi_rows), ",".join(
                "[%d,%s,%s,\"%s\"]" % (ts, self.text.price_of(t), self.text.qty_of(q),
                                       "long" if side else "short")
                for ts, t, q, side in sorted(self.liquidations, key=lambda r: r[0]))))
        if progress is not None:
            progress(1.0)

    def write_trades(self, end_ts: int) -> None:
        out = self.out
        rows = np.concatenate(self.trade_parts) if self.trade_parts else np.zeros((0, 4), np.int64)
        self.trade_parts = []
        rows = rows[np.argsort(rows[:, 0], kind="stable")]
        out.write('],"trades":[')
        sides = ('"buy"]', '"sell"]')
        price, qty = self.text.price_of, self.text.qty_of
        for lo in range(0, len(rows), 100_000):
            part = rows[lo:lo + 100_000].tolist()
            out.write(("," if lo else "") + ",".join(
                "[%d,%s,%s,%s" % (ts, price(t), qty(q), sides[s]) for ts, t, q, s in part))
        out.write('],"candles":[')
        out.write(",".join(self.candles(rows, end_ts)))

    def candles(self, rows: np.ndarray, end_ts: int) -> List[str]:
        """One candle per minute from the trades; a minute without trades repeats the close."""
        minutes = (end_ts - self.start_ts + CANDLE_MS - 1) // CANDLE_MS
        which = (rows[:, 0] - self.start_ts) // CANDLE_MS
        starts = np.searchsorted(which, np.arange(minutes + 1))
        price, qty = self.text.price_of, self.text.qty_of
        text, close = [], _START_TICK
        for m in range(minutes):
            lo, hi = int(starts[m]), int(starts[m + 1])
            ts = self.start_ts + m * CANDLE_MS
            if lo == hi:
                c = price(close)
                text.append("[%d,%s,%s,%s,%s,0.0]" % (ts, c, c, c, c))
                continue
            ticks = rows[lo:hi, 1]
            close = int(ticks[-1])
            volume = int(rows[lo:hi, 2].sum())
            text.append("[%d,%s,%s,%s,%s,%s]" % (
                ts, price(int(ticks[0])), price(int(ticks.max())), price(int(ticks.min())),
                price(close), qty(volume)))
        return text


def write_dense(out: TextIO, minutes: float, seed: int, depth: int, start_ts: int,
                progress: Optional[Progress] = None) -> None:
    """Write the dense sample's dataset JSON text to ``out``, block by block."""
    duration_ms = max(1, int(round(minutes * 60_000)))
    _DenseMarket(seed, depth, start_ts, out).run(duration_ms, progress)
