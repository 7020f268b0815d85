"""Market data files of a few well-known forms turned into dataset JSON.

    >>> from tavrin_ovra import sources
    >>> summary = sources.convert("tardis", ["trades.csv.gz"], "dataset.json")  # doctest: +SKIP
    >>> print(summary.text())  # doctest: +SKIP

Formats: "tardis" (downloadable CSV files), "binance" (public data archives), "bybit"
(order-book history and trade files), "binance-stream" (recorded websocket messages).
Reading needs polars and numpy (``pip install "tavrin_ovra[sources]"``); the module itself
still reads no files, this package does.
"""

from .convert import CANDLES, FORMATS, convert
from .errors import ConvertError, SourceError
from .summary import Summary

__all__ = ["CANDLES", "FORMATS", "ConvertError", "SourceError", "Summary", "convert"]
