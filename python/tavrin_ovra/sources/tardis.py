"""Tardis downloadable CSV files (times in microseconds since 1970, UTC).

Kinds, told by the header line: ``trades`` and ``liquidations`` (the same columns; a file
whose name holds "liquidations" is read as liquidations), ``incremental_book_L2``,
``book_snapshot_25`` / ``book_snapshot_5`` (any number of levels), ``derivative_ticker``.

- Times: the exchange's ``timestamp``, rounded up to the millisecond.
- trades: ``side`` is the aggressor; "unknown" rows are skipped and counted.
- liquidations: side "sell" forced a long out ("long"), "buy" a short ("short").
- incremental_book_L2: a run of snapshot rows is one snapshot event; other rows of one
  message, told by equal ``local_timestamp``, are one diff event; ``amount`` is the new size
  (0 removes). Rows before the file's first snapshot are skipped and counted.
- book_snapshot_N: one snapshot event a row, the levels that are present.
- derivative_ticker: ``funding_rate`` into funding and ``open_interest`` into open interest,
  a sample wherever the value is present and differs from the one before.
"""

from __future__ import annotations

import re
from typing import Dict, List, Optional

import numpy as np
import polars as pl

from .book_events import book_text, event_starts
from .errors import SourceError
from .job import Job
from .opening import Member
from .records import ceil_div, level_texts
from .table import BOOL, FLOAT, INT, CsvSource, Field, first_true

__all__ = ["Reader"]

_US = 1000
_LEVEL = re.compile(r"(asks|bids)\[(\d+)\]\.price")


def kind_of(member: Member, names: List[str]) -> str:
    have = set(names)
    if not {"symbol", "timestamp"} <= have:
        raise SourceError(member.name, 1, "not a Tardis CSV file: the header has no "
                          "symbol and timestamp columns")
    if {"is_snapshot", "side", "price", "amount"} <= have:
        return "incremental_book_L2"
    if any(_LEVEL.fullmatch(n) for n in names):
        return "book_snapshot"
    if {"funding_rate", "open_interest"} & have:
        return "derivative_ticker"
    if {"side", "price", "amount"} <= have:
        return "liquidations" if "liquidations" in member.name.lower() else "trades"
    raise SourceError(member.name, 1, "a Tardis file of a kind that holds none of the "
                      f"dataset's series (header {','.join(names)[:80]!r})")


class Reader:
    def __init__(self, job: Job) -> None:
        self.job = job

    def read(self, member: Member) -> None:
        names = member.first_line().decode("utf-8", "replace").split(",")
        kind = kind_of(member, names)
        getattr(self, "_" + kind.lower())(member, names)

    def finish(self) -> None:
        pass

    # -- trades and liquidations --------------------------------------------------------

    def _trades(self, member: Member, names: List[str]) -> None:
        source = CsvSource(member, names, [
            Field("symbol"), Field("timestamp", INT), Field("side", words=("buy", "sell", "unknown")),
            Field("price", FLOAT), Field("amount", FLOAT)], header=True)
        for first, frame in source.frames():
            frame = self.job.pick(frame, "symbol", first)
            known = frame.filter(pl.col("side") != "unknown")
            self.job.skip('trades with side "unknown"', frame.height - known.height)
            self.job.emit("trades", known.select(
                ceil_div(pl.col("timestamp"), _US).alias("ts"), "price",
                pl.col("amount").alias("qty"), "side"))
            self.job.tick()

    def _liquidations(self, member: Member, names: List[str]) -> None:
        source = CsvSource(member, names, [
            Field("symbol"), Field("timestamp", INT), Field("side", words=("buy", "sell")),
            Field("price", FLOAT), Field("amount", FLOAT)], header=True)
        for first, frame in source.frames():
            frame = self.job.pick(frame, "symbol", first)
            self.job.emit("liquidations", frame.select(
                ceil_div(pl.col("timestamp"), _US).alias("ts"), "price",
                pl.col("amount").alias("qty"),
                pl.when(pl.col("side") == "sell").then(pl.lit("long")).otherwise(pl.lit("short"))
                .alias("side")))
            self.job.tick()

    # -- order book ---------------------------------------------------------------------

    def _incremental_book_l2(self, member: Member, names: List[str]) -> None:
        source = CsvSource(member, names, [
            Field("symbol"), Field("timestamp", INT), Field("local_timestamp", INT),
            Field("is_snapshot", BOOL), Field("side", words=("bid", "ask")),
            Field("price", FLOAT), Field("amount", FLOAT)], header=True)
        book = _IncrementalBook(self.job)
        for first, frame in source.frames():
            book.add(self.job.pick(frame, "symbol", first))
            self.job.tick()
        book.close()

    def _book_snapshot(self, member: Member, names: List[str]) -> None:
        depth = 1 + max(int(m.group(2)) for m in map(_LEVEL.fullmatch, names) if m)
        levels = [f"{side}[{i}].{what}" for i in range(depth) for side in ("asks", "bids")
                  for what in ("price", "amount")]
        source = CsvSource(member, names, [Field("symbol"), Field("timestamp", INT)]
                           + [Field(n, FLOAT, required=False) for n in levels if n in names],
                           header=True)
        carried: Optional[int] = None
        for first, frame in source.frames():
            frame = self.job.pick(frame, "symbol", first)
            if frame.height == 0:
                continue
            events = frame.select(
                self.job.book_stamps(ceil_div(pl.col("timestamp"), _US), carried).alias("ts"),
                pl.lit("snapshot").alias("kind"),
                _side_levels("bids", depth, names).alias("bids"),
                _side_levels("asks", depth, names).alias("asks"))
            carried = events["ts"][-1]
            self.job.emit("book", events)
            self.job.tick()

    # -- funding and open interest ------------------------------------------------------

    def _derivative_ticker(self, member: Member, names: List[str]) -> None:
        series = [(c, s, v) for c, s, v in (("funding_rate", "funding", "rate"),
                                            ("open_interest", "oi", "oi")) if c in names]
        source = CsvSource(member, names, [Field("symbol"), Field("timestamp", INT)]
                           + [Field(c, FLOAT, required=False) for c, _s, _v in series],
                           header=True)
        last: Dict[str, Optional[float]] = {c: None for c, _s, _v in series}
        for first, frame in source.frames():
            frame = self.job.pick(frame, "symbol", first)
            for column, name, value in series:
                samples, last[column] = changed_samples(
                    frame.select(ceil_div(pl.col("timestamp"), _US).alias("ts"),
                                 pl.col(column).alias(value)), value, last[column])
                self.job.emit(name, samples)
            self.job.tick()


def changed_samples(frame: pl.DataFrame, value: str,
                    before: Optional[float]) -> "tuple[pl.DataFrame, Optional[float]]":
    """The rows where ``value`` is present and differs from the previous present one
    (``before`` carries it over from the previous chunk); also gives the last value."""
    present = frame.filter(pl.col(value).is_not_null())
    if present.height == 0:
        return present, before
    previous = pl.col(value).shift(1)
    if before is not None:
        previous = previous.fill_null(before)
    samples = present.filter((pl.col(value) != previous).fill_null(True))
    return samples, present[value][-1]


def _side_levels(side: str, depth: int, names: List[str]) -> pl.Expr:
    texts = [level_texts(pl.col(f"{side}[{i}].price"), pl.col(f"{side}[{i}].amount"))
             for i in range(depth) if f"{side}[{i}].price" in names]
    if not texts:
        return pl.lit("")
    return pl.concat_list(texts).list.drop_nulls().list.join(",")


class _IncrementalBook:
    """Rows of incremental_book_L2 into book events. The rows of the last event of a chunk
    are held back, since the event may go on in the next chunk."""

    def __init__(self, job: Job) -> None:
        self.job = job
        self.held: Optional[pl.DataFrame] = None
        self.synced = False
        self.carried: Optional[int] = None

    def add(self, frame: pl.DataFrame) -> None:
        frame = frame.select(ceil_div(pl.col("timestamp"), _US).alias("ts"), "local_timestamp",
                             "is_snapshot", (pl.col("side") == "bid").alias("bid"),
                             "price", "amount")
        if frame.height == 0:
            return
        if not self.synced:
            start = first_true(frame, pl.col("is_snapshot"))
            if start is None:
                self.job.skip("book rows before the first snapshot", frame.height)
                return
            self.job.skip("book rows before the first snapshot", start)
            frame = frame.slice(start)
            self.synced = True
        if self.held is not None:
            frame = pl.concat([self.held, frame])
        starts = event_starts(frame["is_snapshot"].to_numpy(), frame["local_timestamp"].to_numpy())
        last = int(starts[-1])
        self.held = frame.slice(last)
        if last:
            self._write(frame.slice(0, last), starts[:-1])

    def close(self) -> None:
        if self.held is not None and self.held.height:
            self._write(self.held, np.zeros(1, dtype=np.int64))
        self.held = None

    def _write(self, frame: pl.DataFrame, starts: np.ndarray) -> None:
        events = book_text(frame["ts"].to_numpy(), frame["is_snapshot"].to_numpy(),
                           frame["bid"].to_numpy(), frame["price"], frame["amount"], starts,
                           self.carried)
        self.carried = events.last
        self.job.emit_text("book", events.text, events.count, events.first, events.last)
