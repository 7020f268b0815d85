"""One conversion in progress: the output being written, the instrument chosen, the
records skipped and why, and the progress shown."""

from __future__ import annotations

from collections import Counter
from typing import List, Optional

import polars as pl

from .candles import CandleBuilder
from .convert import Progress
from .errors import SourceError
from .opening import Member
from .records import record_texts
from .writer import DatasetWriter

__all__ = ["Job"]


class Job:
    def __init__(self, output: str, symbol: Optional[str], progress: Optional[Progress],
                 total_bytes: int) -> None:
        self.writer = DatasetWriter(output)
        self.symbol = symbol.upper() if symbol else None
        self.instrument: Optional[str] = None
        self.skips: "Counter[str]" = Counter()
        self.gaps: List[str] = []
        self.notes: List[str] = []
        self.trade_candles = CandleBuilder()
        self.vendor_candles = 0
        self.member: Optional[Member] = None
        self.progress = progress
        self.total_bytes = max(total_bytes, 1)
        self.bytes_before = 0

    # -- the stream being read ---------------------------------------------------------

    def begin(self, member: Member) -> None:
        self.member = member
        self.writer.start_stream()
        self.trade_candles.end_stream()

    def end(self, member: Member) -> None:
        self.bytes_before += member.size
        self.tick()

    @property
    def where(self) -> str:
        return self.member.name if self.member else ""

    def tick(self) -> None:
        if self.progress is not None:
            done = self.bytes_before + (self.member.done if self.member else 0)
            self.progress(min(done / self.total_bytes, 1.0), self.where)

    # -- records ----------------------------------------------------------------------

    def emit(self, series: str, frame: pl.DataFrame) -> None:
        """Writes ``frame`` (the series' columns in field order) as records."""
        if frame.height == 0:
            return
        first, last = frame.select(pl.col("ts").min().alias("a"), pl.col("ts").max().alias("b")).row(0)
        self.writer.add(series, record_texts(series, frame), frame.height, first, last)
        if series == "trades":
            self.trade_candles.add(frame)
        elif series == "candles":
            self.vendor_candles += frame.height

    def emit_text(self, series: str, text: str, count: int, first: int, last: int) -> None:
        """Writes ``count`` records already made into text (records separated by commas)
        whose times run from ``first`` to ``last``. Not for trades or candles, whose frames
        are needed for the derived candles."""
        self.writer.add(series, text, count, first, last)

    def skip(self, reason: str, count: int) -> None:
        if count:
            self.skips[reason] += count

    # -- the instrument ---------------------------------------------------------------

    def pick(self, frame: pl.DataFrame, column: str, first_line: int,
             numbers: Optional[str] = None) -> pl.DataFrame:
        """The rows of the chosen instrument. Without --symbol the first instrument seen is
        the one, and a row of another one is an error, placed at ``first_line`` plus the
        row's index, or at the row's value of the column ``numbers`` where given."""
        if frame.height == 0:
            return frame
        # compare the few distinct names, not every row's text
        names = frame.get_column(column).unique(maintain_order=True).to_list()
        if self.symbol is not None:
            wanted = [n for n in names if n is not None and n.upper() == self.symbol]
            kept = frame if len(wanted) == len(names) else frame.filter(pl.col(column).is_in(wanted))
            self.skip("rows of other instruments", frame.height - kept.height)
            return kept
        if self.instrument is None:
            self.instrument = str(names[0]).upper()
        others = [n for n in names if n is None or n.upper() != self.instrument]
        if others:
            other = frame.select(pl.col(column).is_in(others).arg_true().first()).item()
            line = int(frame[numbers][other]) if numbers else first_line + other
            raise SourceError(self.where, line,
                              f"a second instrument {others[0]!r} after {self.instrument!r}: "
                              "choose one with --symbol")
        return frame

    def pick_file(self, name: Optional[str]) -> bool:
        """For files that name their instrument only in the file name: False when the file
        is of another instrument than --symbol (it is then skipped)."""
        if not name:
            return True
        name = name.upper()
        if self.symbol is not None:
            return name == self.symbol
        if self.instrument is None:
            self.instrument = name
        elif name != self.instrument:
            raise SourceError(self.where, None, f"a second instrument {name!r} after "
                              f"{self.instrument!r}: choose one with --symbol")
        return True

    def book_stamps(self, stamps: pl.Expr, carried: Optional[int]) -> pl.Expr:
        """Book event times made non-decreasing (a running maximum, carried over from the
        previous chunk), so that ordering the dataset by time keeps the book's changes in
        the order they were applied."""
        running = stamps.cum_max()
        return running if carried is None else pl.max_horizontal(running, pl.lit(carried))
