"""Bybit history files: order-book files and public trade files.

Kinds, told by the content:

- order book (``*_ob500.data``, ``*_ob200.data``, ...): one websocket message a line,
  {"topic", "type": "snapshot" | "delta", "ts", "data": {"s", "b", "a", "u", "seq"}}, levels
  as [price, size] texts. A snapshot is a snapshot event (it replaces the book), a delta a
  diff event; size "0" removes the price. Times: ``ts``, the milliseconds at which Bybit
  made the message. Deltas before the file's first snapshot are skipped and counted.
- trades of derivatives (header ``timestamp,symbol,side,size,price,...``): ``timestamp`` is
  seconds with a fraction, taken as text and rounded up to the millisecond exactly;
  ``side`` Buy / Sell is the taker's, so it is the aggressor's side.
- spot trades (header ``id,timestamp,price,volume,side,...``): ``timestamp`` in
  milliseconds, ``side`` buy / sell of the taker; the instrument is the file name's first
  word (BTCUSDT_2024-07-19.csv).
"""

from __future__ import annotations

import os
import re
from typing import Optional

import polars as pl

from .errors import SourceError
from .job import Job
from .messages import INT, LEVELS, WORD, Field, decode, level_column
from .opening import Member
from .table import FLOAT, TEXT, CsvSource, JsonLines, first_true
from .table import INT as CSV_INT
from .table import Field as Column

__all__ = ["Reader"]

_SECONDS = r"^[0-9]+(\.[0-9]+)?$"
_BOOK = [Field("type", WORD, words=("snapshot", "delta")), Field("ts", INT),
         Field("data.s", column="s"), Field("data.b", LEVELS, column="bids"),
         Field("data.a", LEVELS, column="asks")]


def kind_of(member: Member, line: bytes) -> str:
    text = line.decode("utf-8", "replace").strip()
    if text.startswith("{"):
        return "book"
    names = set(text.split(","))
    if {"timestamp", "symbol", "side", "size", "price"} <= names:
        return "trades"
    if {"timestamp", "price", "volume", "side"} <= names:
        return "spot_trades"
    raise SourceError(member.name, 1, "not a Bybit order-book or trade file (first line "
                      f"{text[:80]!r})")


def _instrument(member: Member) -> Optional[str]:
    base = os.path.basename(member.name.split(":")[-1])
    found = re.match(r"([A-Z0-9]+?)[_-]?[0-9]{4}-[0-9]{2}-[0-9]{2}", base)
    return found.group(1) if found else None


def milliseconds_of_seconds(text: pl.Expr) -> pl.Expr:
    """Seconds with a fraction ("1721347200.1234") as whole milliseconds, rounded up,
    computed on the digits so that no binary fraction moves a time across a millisecond."""
    whole = text.str.extract(r"^([0-9]+)", 1).cast(pl.Int64)
    fraction = (text.str.extract(r"\.([0-9]+)$", 1).fill_null("").str.slice(0, 18)
                .str.pad_end(18, "0").cast(pl.Int64))
    return whole * 1000 + (-((-fraction) // 10 ** 15))


class Reader:
    def __init__(self, job: Job) -> None:
        self.job = job

    def read(self, member: Member) -> None:
        kind = kind_of(member, member.first_line())
        getattr(self, "_" + kind)(member)

    def finish(self) -> None:
        pass

    # -- order book ---------------------------------------------------------------------

    def _book(self, member: Member) -> None:
        synced = False
        carried: Optional[int] = None
        for frame in JsonLines(member).frames():
            rows = decode(member.name, frame.rename({"line": "text"}), _BOOK, "the order-book message")
            rows = self.job.pick(rows, "s", 0, numbers="no")
            if not synced:
                start = first_true(rows, pl.col("type") == "snapshot")
                before = rows.height if start is None else start
                self.job.skip("order-book deltas before the first snapshot", before)
                rows = rows.slice(before)
                synced = start is not None
            if not rows.height:
                continue
            rows = level_column(member.name, level_column(member.name, rows, "bids"), "asks")
            events = rows.select(
                self.job.book_stamps(pl.col("ts"), carried).alias("ts"),
                pl.when(pl.col("type") == "snapshot").then(pl.lit("snapshot"))
                .otherwise(pl.lit("diff")).alias("kind"), "bids", "asks")
            carried = events["ts"][-1]
            self.job.emit("book", events)
            self.job.tick()

    # -- trades -------------------------------------------------------------------------

    def _trades(self, member: Member) -> None:
        names = member.first_line().decode("utf-8", "replace").strip().split(",")
        source = CsvSource(member, names, [
            Column("timestamp", TEXT), Column("symbol"), Column("side", words=("Buy", "Sell")),
            Column("size", FLOAT), Column("price", FLOAT)], header=True)
        for first, frame in source.frames():
            bad = first_true(frame, ~pl.col("timestamp").str.contains(_SECONDS))
            if bad is not None:
                raise SourceError(member.name, first + bad, "timestamp is not seconds like "
                                  f"1721347200.1234: {frame['timestamp'][bad]!r}")
            frame = self.job.pick(frame, "symbol", first)
            self.job.emit("trades", frame.select(
                milliseconds_of_seconds(pl.col("timestamp")).alias("ts"), "price",
                pl.col("size").alias("qty"), pl.col("side").str.to_lowercase().alias("side")))
            self.job.tick()

    def _spot_trades(self, member: Member) -> None:
        if not self.job.pick_file(_instrument(member)):
            self.job.skip("files of other instruments", 1)
            return
        names = member.first_line().decode("utf-8", "replace").strip().split(",")
        source = CsvSource(member, names, [
            Column("timestamp", CSV_INT), Column("side", words=("buy", "sell")),
            Column("volume", FLOAT), Column("price", FLOAT)], header=True)
        for _first, frame in source.frames():
            self.job.emit("trades", frame.select(
                pl.col("timestamp").alias("ts"), "price", pl.col("volume").alias("qty"), "side"))
            self.job.tick()
