"""The ``convert`` command: market data files into a dataset file."""

from __future__ import annotations

import argparse
import sys
from typing import Any

__all__ = ["add_convert"]


def add_convert(commands: Any) -> None:
    from .sources.convert import CANDLES, FORMATS
    sub = commands.add_parser(
        "convert", help="turn exchange data files into a dataset",
        description="Convert Tardis, Binance or Bybit files, or recorded Binance streams, "
                    "into dataset JSON (needs polars and numpy: pip install \"tavrin_ovra[sources]\").")
    sub.add_argument("format", choices=list(FORMATS), help="the files' format")
    sub.add_argument("files", nargs="+", metavar="FILE", help="plain, .gz or .zip files")
    sub.add_argument("-o", "--output", required=True, metavar="OUT.json", help="dataset file")
    sub.add_argument("--symbol", help="the instrument to keep where a file holds several")
    sub.add_argument("--candles", choices=list(CANDLES), default=None,
                     help="1m (default): one-minute candles from the trades when no file "
                          "gives candles; none: no derived candles")
    sub.set_defaults(run=_run_convert)


def _run_convert(args: argparse.Namespace) -> int:
    from .cli import CliError, _Progress
    from .sources import ConvertError, convert
    progress = _Progress()

    def show(done: float, where: str) -> None:
        filled = int(done * 30)
        progress.show(f"[{'#' * filled}{'.' * (30 - filled)}] {100 * done:5.1f}% {where}")

    try:
        summary = convert(args.format, args.files, args.output, symbol=args.symbol,
                          candles=args.candles, progress=show)
    except ConvertError as failure:
        raise CliError(str(failure)) from None
    finally:
        progress.clear()
    sys.stdout.write(summary.text() + "\n")
    return 0
