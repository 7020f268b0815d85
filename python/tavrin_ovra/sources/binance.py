"""Binance public data archives (zip of one CSV, with or without a header line).

Kinds, told by the header, or without one by the number of columns and their contents:
``aggTrades``, ``trades``, ``klines``, ``metrics``, ``fundingRate``, ``liquidationSnapshot``.
Times are milliseconds; values of 10^14 and above (spot files from 2025) are microseconds
and are rounded up to the millisecond. ``is_buyer_maker`` true means the aggressor sold.
Klines are stamped at their close time; metrics' ``create_time`` is a UTC date-time text;
fundingRate gives ``last_funding_rate`` at ``calc_time``; liquidationSnapshot side SELL is a
long forced out. The instrument is the file name's first word (ETHUSDT-trades-...).
"""

from __future__ import annotations

import os
import re
from typing import Dict, List, Optional, Tuple

import polars as pl

from .errors import SourceError
from .job import Job
from .opening import Member
from .records import ceil_div
from .table import BOOL, FLOAT, INT, TEXT, CsvSource, Field, first_true

__all__ = ["Reader"]

_HEADERS: Dict[str, List[str]] = {
    "aggTrades": ["agg_trade_id", "price", "quantity", "first_trade_id", "last_trade_id",
                  "transact_time", "is_buyer_maker"],
    "trades": ["id", "price", "qty", "quote_qty", "time", "is_buyer_maker"],
    "klines": ["open_time", "open", "high", "low", "close", "volume", "close_time",
               "quote_volume", "count", "taker_buy_volume", "taker_buy_quote_volume", "ignore"],
    "fundingRate": ["calc_time", "funding_interval_hours", "last_funding_rate"],
    "liquidationSnapshot": ["time", "side", "order_type", "time_in_force", "original_quantity",
                            "price", "average_price", "order_status", "last_fill_quantity",
                            "accumulated_fill_quantity"],
}
_BOOLS = ("true", "false")


def kind_of(member: Member, line: str) -> Tuple[str, List[str], bool]:
    """(kind, column names, has a header line)."""
    values = line.split(",")
    if values and re.match(r"[A-Za-z_]", values[0]):
        if "create_time" in values and "sum_open_interest" in values:
            return "metrics", values, True
        for kind, names in _HEADERS.items():
            if set(names[:len(values)]) >= set(v for v in values if v in names) and values[:2] == names[:2]:
                return kind, values, True
        raise SourceError(member.name, 1, f"a Binance file of a kind that holds none of the "
                          f"dataset's series (header {line[:80]!r})")
    n = len(values)
    low = [v.lower() for v in values]
    if n == 12:
        return "klines", _HEADERS["klines"], False
    if n == 8 and low[6] in _BOOLS:   # spot aggTrades: ... is_buyer_maker, is_best_match
        return "aggTrades", _HEADERS["aggTrades"] + ["is_best_match"], False
    if n == 7 and low[5] in _BOOLS:   # spot trades: ... is_buyer_maker, is_best_match
        return "trades", _HEADERS["trades"] + ["is_best_match"], False
    if n == 7 and low[6] in _BOOLS:
        return "aggTrades", _HEADERS["aggTrades"], False
    if n == 6 and low[5] in _BOOLS:
        return "trades", _HEADERS["trades"], False
    if n == 10 and values[1] in ("BUY", "SELL"):
        return "liquidationSnapshot", _HEADERS["liquidationSnapshot"], False
    raise SourceError(member.name, 1, f"not a Binance data file this converter reads "
                      f"({n} columns without a header)")


def _ms(column: str) -> pl.Expr:
    value = pl.col(column)
    return pl.when(value >= 10 ** 14).then(ceil_div(value, 1000)).otherwise(value)


def _instrument(member: Member) -> Optional[str]:
    base = os.path.basename(member.name.split(":")[-1])
    found = re.match(r"([A-Za-z0-9]+)-", base)
    return found.group(1) if found else None


class Reader:
    def __init__(self, job: Job) -> None:
        self.job = job

    def read(self, member: Member) -> None:
        kind, names, header = kind_of(member, member.first_line().decode("utf-8", "replace"))
        if not self.job.pick_file(_instrument(member)):
            self.job.skip("files of other instruments", 1)
            return
        getattr(self, "_" + kind.lower())(member, names, header)

    def finish(self) -> None:
        pass

    def _frames(self, member: Member, names: List[str], header: bool, fields: List[Field]):
        for _first, frame in CsvSource(member, names, fields, header).frames():
            yield frame
            self.job.tick()

    def _trades_of(self, member, names, header, time, qty) -> None:
        for frame in self._frames(member, names, header, [
                Field(time, INT), Field("price", FLOAT), Field(qty, FLOAT),
                Field("is_buyer_maker", BOOL)]):
            self.job.emit("trades", frame.select(
                _ms(time).alias("ts"), "price", pl.col(qty).alias("qty"),
                pl.when(pl.col("is_buyer_maker")).then(pl.lit("sell")).otherwise(pl.lit("buy"))
                .alias("side")))

    def _aggtrades(self, member, names, header) -> None:
        self._trades_of(member, names, header, "transact_time", "quantity")

    def _trades(self, member, names, header) -> None:
        self._trades_of(member, names, header, "time", "qty")

    def _klines(self, member, names, header) -> None:
        values = ["open", "high", "low", "close", "volume"]
        for frame in self._frames(member, names, header,
                                  [Field("close_time", INT)] + [Field(v, FLOAT) for v in values]):
            self.job.emit("candles", frame.select(_ms("close_time").alias("ts"), *values))

    def _metrics(self, member, names, header) -> None:
        source = CsvSource(member, names, [Field("create_time", TEXT),
                                           Field("sum_open_interest", FLOAT)], header)
        for first, frame in source.frames():
            stamped = frame.select(
                pl.col("create_time").str.to_datetime("%Y-%m-%d %H:%M:%S", time_zone="UTC",
                                                      strict=False)
                .dt.epoch("ms").alias("ts"), pl.col("sum_open_interest").alias("oi"))
            bad = first_true(stamped, pl.col("ts").is_null())
            if bad is not None:
                raise SourceError(member.name, first + bad, "create_time is not a date-time "
                                  f"like 2024-07-18 00:05:00: {frame['create_time'][bad]!r}")
            self.job.emit("oi", stamped)
            self.job.tick()

    def _fundingrate(self, member, names, header) -> None:
        for frame in self._frames(member, names, header, [
                Field("calc_time", INT), Field("last_funding_rate", FLOAT)]):
            self.job.emit("funding", frame.select(_ms("calc_time").alias("ts"),
                                                  pl.col("last_funding_rate").alias("rate")))

    def _liquidationsnapshot(self, member, names, header) -> None:
        for frame in self._frames(member, names, header, [
                Field("time", INT), Field("side", words=("BUY", "SELL")), Field("price", FLOAT),
                Field("average_price", FLOAT), Field("original_quantity", FLOAT),
                Field("accumulated_fill_quantity", FLOAT)]):
            filled = pl.col("accumulated_fill_quantity")
            average = pl.col("average_price")
            self.job.emit("liquidations", frame.select(
                _ms("time").alias("ts"),
                pl.when(average > 0).then(average).otherwise(pl.col("price")).alias("price"),
                pl.when(filled > 0).then(filled).otherwise(pl.col("original_quantity")).alias("qty"),
                pl.when(pl.col("side") == "SELL").then(pl.lit("long")).otherwise(pl.lit("short"))
                .alias("side")))
