"""One-minute candles from trades, and the stamping rule shared with vendor candles.

A candle is stamped with its close time, the last millisecond it covers (its opening
minute plus 59,999 ms), not with its opening minute: a frame shows the records with
``ts`` at or before its cursor, and a candle stamped at its opening would show, from the
first millisecond of its minute, a close price traded up to a minute later. Stamped at its
close, a candle appears once every trade in it lies at or before the cursor. Vendor
candles get the same stamp: their close time, rounded up to a whole millisecond where the
vendor gives finer times.
"""

from __future__ import annotations

from typing import List, Optional

import polars as pl

__all__ = ["CandleBuilder", "MINUTE_MS"]

MINUTE_MS = 60_000


class CandleBuilder:
    """Gathers trades chunk by chunk and gives their one-minute candles at the end.

    The trades of a chunk's last minute are held back and joined to the next chunk, so
    that a minute of trades in time order is summed in one piece whatever the chunk size;
    trades that come back to a minute already passed are merged into it.
    """

    def __init__(self) -> None:
        self.pieces: List[pl.DataFrame] = []
        self.held: Optional[pl.DataFrame] = None
        self.order = 0

    def add(self, trades: pl.DataFrame) -> None:
        frame = trades.select("ts", "price", "qty")
        if self.held is not None:
            frame = pl.concat([self.held, frame])
        minute = pl.col("ts") // MINUTE_MS
        if frame.height == 0:
            return
        last = frame.select(minute.last()).item()
        self.held = frame.filter(minute == last)
        self._piece(frame.filter(minute != last))

    def end_stream(self) -> None:
        """The trades of one input stream are over: its held minute is complete."""
        if self.held is not None:
            self._piece(self.held)
        self.held = None

    def _piece(self, frame: pl.DataFrame) -> None:
        if frame.height == 0:
            return
        self.order += 1
        by_time = {"by": "ts", "maintain_order": True}
        self.pieces.append(
            frame.group_by((pl.col("ts") // MINUTE_MS).alias("minute"), maintain_order=True)
            .agg(pl.col("price").sort_by(**by_time).first().alias("open"),
                 pl.col("price").max().alias("high"), pl.col("price").min().alias("low"),
                 pl.col("price").sort_by(**by_time).last().alias("close"),
                 pl.col("qty").sum().alias("volume"),
                 pl.col("ts").min().alias("first"), pl.col("ts").max().alias("last"))
            .with_columns(pl.lit(self.order).alias("piece")))

    def candles(self) -> pl.DataFrame:
        """Columns ts, open, high, low, close, volume; one row a minute with trades."""
        self.end_stream()
        if not self.pieces:
            return pl.DataFrame(schema={"ts": pl.Int64, "open": pl.Float64, "high": pl.Float64,
                                        "low": pl.Float64, "close": pl.Float64,
                                        "volume": pl.Float64})
        pieces = pl.concat(self.pieces)
        return (pieces.group_by("minute")
                .agg(pl.col("open").sort_by("first", "piece").first(), pl.col("high").max(),
                     pl.col("low").min(), pl.col("close").sort_by("last", "piece").last(),
                     pl.col("volume").sort_by("piece").sum())
                .sort("minute")
                .select((pl.col("minute") * MINUTE_MS + (MINUTE_MS - 1)).alias("ts"),
                        "open", "high", "low", "close", "volume"))
