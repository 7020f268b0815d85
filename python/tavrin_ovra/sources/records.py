"""The six record series and their JSON texts, built column-wise by polars.

Every record is written as a JSON array of its fields in declaration order. Numbers go
through polars' float-to-text cast, which writes the shortest text that reads back to the
same double, so a price read from "3424.980" is written 3424.98 and loads as exactly the
double that the decimal text denotes.
"""

from __future__ import annotations

from typing import Dict, List

import polars as pl

__all__ = ["SERIES", "ceil_div", "record_texts"]

# series name -> the columns of its records, in field order (book levels pre-rendered)
SERIES: Dict[str, List[str]] = {
    "candles": ["ts", "open", "high", "low", "close", "volume"],
    "trades": ["ts", "price", "qty", "side"],
    "book": ["ts", "kind", "bids", "asks"],
    "funding": ["ts", "rate"],
    "oi": ["ts", "oi"],
    "liquidations": ["ts", "price", "qty", "side"],
}
_WORDS = {"side", "kind"}
_LEVELS = {"bids", "asks"}


def ceil_div(expr: pl.Expr, unit: int) -> pl.Expr:
    """``expr`` divided by ``unit``, rounded up: a time in a finer unit becomes the first
    millisecond at or after it, so that a record is never visible before it happened."""
    return -((-expr) // unit)


def level_texts(price: pl.Expr, qty: pl.Expr) -> pl.Expr:
    """"[price,qty]" of one book level (null where either is missing)."""
    return pl.format("[{},{}]", price, qty)


def record_texts(series: str, frame: pl.DataFrame) -> str:
    """The records of ``frame`` as JSON arrays separated by commas (no brackets around)."""
    fields = []
    for name in SERIES[series]:
        fields.append('"{}"' if name in _WORDS else "[{}]" if name in _LEVELS else "{}")
    record = pl.format("[" + ",".join(fields) + "]", *SERIES[series])
    return frame.select(record.str.join(",")).item() or ""
