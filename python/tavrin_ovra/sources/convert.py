"""Runs a conversion: every stream of every file through the format's reader, candles
derived where asked, the dataset file made, the summary returned."""

from __future__ import annotations

import importlib
from typing import TYPE_CHECKING, Callable, List, Optional, Sequence

from .errors import ConvertError
from .opening import Member, members
from .summary import Summary

if TYPE_CHECKING:
    from .job import Job

__all__ = ["CANDLES", "FORMATS", "convert"]

FORMATS = {"tardis": "tardis", "binance": "binance", "bybit": "bybit",
           "binance-stream": "binance_stream"}
CANDLES = ("1m", "none")

# called with the fraction done (0 to 1) and the name of the stream being read
Progress = Callable[[float, str], None]


def convert(format: str, files: Sequence[str], output: str, symbol: Optional[str] = None,
            candles: Optional[str] = None, progress: Optional[Progress] = None) -> Summary:
    """Converts ``files`` of ``format`` into the dataset file ``output``.

    ``candles``: "1m" (the default) derives one-minute candles from the trades when no file
    gives candles; "none" derives none. Raises ConvertError (SourceError for bad input,
    naming file and line); the output is then not written.
    """
    if format not in FORMATS:
        raise ConvertError(f"unknown format {format!r}, expected one of {', '.join(FORMATS)}")
    if candles not in (None,) + CANDLES:
        raise ConvertError(f"unknown candles {candles!r}, expected 1m or none")
    if not files:
        raise ConvertError("no input file")
    try:
        import numpy  # noqa: F401
        import polars  # noqa: F401
    except ImportError:
        raise ConvertError('converting needs polars and numpy: '
                           'pip install "tavrin_ovra[sources]"') from None
    from .job import Job
    module = importlib.import_module(f".{FORMATS[format]}", __package__)
    streams: List[Member] = [m for path in files for m in members(path)]
    job = Job(output, symbol, progress, sum(m.size for m in streams))
    try:
        reader = module.Reader(job)
        for member in streams:
            job.begin(member)
            reader.read(member)
            job.end(member)
        job.member = None
        reader.finish()
        _candles(job, candles or "1m")
        totals = job.writer.totals()
        if not sum(t.count for t in totals.values()):
            wanted = f" of {job.symbol}" if job.symbol else ""
            raise ConvertError(f"no records{wanted} in {', '.join(files)}")
        job.writer.finish()
    except BaseException:
        job.writer.discard()
        raise
    finally:
        for member in streams:
            member.close()
    return Summary(output, job.writer.size, job.symbol or job.instrument, totals,
                   dict(job.skips), job.gaps, job.notes)


def _candles(job: "Job", mode: str) -> None:
    job.writer.start_stream()
    if job.vendor_candles:
        job.notes.append("candles from the files, stamped at their close time")
        return
    if mode == "none":
        return
    frame = job.trade_candles.candles()
    if frame.height:
        job.emit("candles", frame)
        job.vendor_candles = 0
        job.notes.append("candles: one a minute derived from the trades, stamped at the "
                         "minute's last millisecond")
