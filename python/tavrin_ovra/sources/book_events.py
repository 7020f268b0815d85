"""Rows of book level changes grouped into book events and written as record text.

A book event is a run of consecutive rows: its time is the latest of its rows' times, made
non-decreasing across events (a running maximum), and its record is
``[ts,"kind",[bid levels],[ask levels]]`` with the levels of each side in row order.

The record text of a whole chunk is built without a loop over rows or events: the rows
are put in record order (within an event the bids, then the asks, each side keeping its
row order) by one permutation worked out with cumulative sums, unless they are in it
already; each row then gets the few characters that go before its level (a comma, the
"],[" between the sides, or the head of its event, which also closes the event before
it), and the texts of all rows are formatted and joined in one go. Numbers are written by
polars' float-to-text cast, as for every other record.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Optional

import numpy as np
import polars as pl

__all__ = ["BookText", "book_text", "event_starts"]

_BETWEEN_LEVELS, _BETWEEN_SIDES = 0, 1  # the first entries of the separator table


def event_starts(snapshot: np.ndarray, message: np.ndarray) -> np.ndarray:
    """Indices of the rows that begin an event: the first row, a change between snapshot
    and diff rows, and among diff rows a change of ``message`` (rows of one message share
    it); a run of snapshot rows is one event whatever its messages."""
    begins = np.empty(len(snapshot), dtype=bool)
    if len(begins):
        begins[0] = True
        begins[1:] = (snapshot[1:] != snapshot[:-1]) | (~snapshot[1:] & (message[1:] != message[:-1]))
    return np.flatnonzero(begins)


@dataclass
class BookText:
    """The records of some events: their text (records separated by commas), their number,
    and the first and last event times."""

    text: str
    count: int
    first: int
    last: int


def book_text(ts: np.ndarray, snapshot: np.ndarray, bid: np.ndarray, price: pl.Series,
              size: pl.Series, starts: np.ndarray, carried: Optional[int]) -> BookText:
    """The records of the events that begin at ``starts`` (the last one runs to the last
    row). ``ts`` are the rows' times, ``bid`` tells bid rows from ask rows, ``price`` and
    ``size`` make each row's level; ``carried`` is the time of the event before."""
    rows, events = len(ts), len(starts)
    ends = np.append(starts[1:], rows)
    stamps = np.maximum.accumulate(np.maximum.reduceat(ts, starts))
    if carried is not None:
        stamps = np.maximum(stamps, carried)
    bids_before = np.zeros(rows + 1, dtype=np.int64)
    np.cumsum(bid, out=bids_before[1:])
    bids = bids_before[ends] - bids_before[starts]
    order = _record_order(bid, starts, ends, bids, bids_before)
    if order is not None:
        price, size = price.gather(order), size.gather(order)

    separators = np.full(rows, _BETWEEN_LEVELS, dtype=np.int64)
    has_asks = bids < ends - starts
    separators[(starts + bids)[has_asks & (bids > 0)]] = _BETWEEN_SIDES
    separators[starts] = 2 + np.arange(events)
    table = pl.concat([pl.Series([",", "],["]), _heads(stamps, snapshot[starts], bids, has_asks)])
    text = (pl.DataFrame({"before": table.gather(separators), "price": price, "size": size})
            .select(pl.format("{}[{},{}]", "before", "price", "size").str.join("")).item())
    text += "]]" if has_asks[-1] else "],[]]"
    return BookText(text, events, int(stamps[0]), int(stamps[-1]))


def _record_order(bid: np.ndarray, starts: np.ndarray, ends: np.ndarray, bids: np.ndarray,
                  bids_before: np.ndarray) -> Optional[np.ndarray]:
    """The row indices in record order: within each event its bids, then its asks; None
    where the rows are in that order already (as exchanges send their messages)."""
    rows = len(bid)
    ask_then_bid = bid[1:] & ~bid[:-1]
    ask_then_bid[starts[1:] - 1] = False                     # across events it is allowed
    if not ask_then_bid.any():
        return None
    event = np.repeat(np.arange(len(starts)), ends - starts)
    index = np.arange(rows)
    start = starts[event]
    bid_rank = bids_before[:rows] - bids_before[start]      # bids before the row, in its event
    ask_rank = index - start - bid_rank                      # asks before the row, in its event
    place = start + np.where(bid, bid_rank, bids[event] + ask_rank)
    order = np.empty(rows, dtype=np.int64)
    order[place] = index
    return order


def _heads(stamps: np.ndarray, snapshot: np.ndarray, bids: np.ndarray,
           has_asks: np.ndarray) -> pl.Series:
    """What goes before each event's first level: the end of the event before (if any),
    then ``[ts,"kind",[``, and ``],[`` at once where the event has no bid."""
    frame = pl.DataFrame({"ts": stamps, "snapshot": snapshot, "bids": bids,
                          "before_asks": np.concatenate(([False], has_asks[:-1])),
                          "first": np.arange(len(stamps)) == 0})
    close = (pl.when(pl.col("first")).then(pl.lit(""))
             .when(pl.col("before_asks")).then(pl.lit("]],"))
             .otherwise(pl.lit("],[]],")))
    kind = pl.when(pl.col("snapshot")).then(pl.lit('snapshot",[')).otherwise(pl.lit('diff",['))
    no_bids = pl.when(pl.col("bids") == 0).then(pl.lit("],[")).otherwise(pl.lit(""))
    return frame.select(pl.concat_str([close, pl.lit("["), pl.col("ts").cast(pl.String),
                                       pl.lit(',"'), kind, no_bids])).to_series()
