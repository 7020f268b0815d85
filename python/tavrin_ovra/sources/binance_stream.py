"""Recordings of Binance websocket streams: one JSON message a line, optionally after the
recorder's receive time and a blank; messages bare or in the combined-stream wrapper
{"stream": ..., "data": ...}. The files of one recording are read in the order given, as
one stream (the book's update chain goes on from one file to the next).

- The REST depth snapshot ({"lastUpdateId", "bids", "asks", ...}) and ``depthUpdate``
  messages make the book, kept by Binance's rules (see ``update_chain``): updates older
  than the snapshot are dropped, each later update must follow on, and after a gap the
  book starts again from the next snapshot; drops and gaps are counted and reported.
  Updates recorded before a snapshot wait for it, as Binance buffers the stream while the
  snapshot is fetched. A REST snapshot names no instrument: it is taken as the one of the
  recording's depth updates (with --symbol, of the chosen one).
- ``trade`` and ``aggTrade``: ``m`` true (the buyer is the maker) is a sell by the
  aggressor. A recording that holds both keeps the kind it shows first and skips the other.
- ``markPriceUpdate``: ``r`` into funding, a sample where it changes.
- ``forceOrder``: a liquidation; side SELL forced a long out ("long"), BUY a short; the
  average price and the filled quantity where they are above zero, else the order's.
- Times: the exchange's transaction time ``T`` where the message has one (a forceOrder's
  order time ``o.T``), else its event time ``E``; never the receive time. The ``T`` of
  markPriceUpdate is the next funding time, so its samples take ``E``. A spot REST
  snapshot has no time: it takes the time of the first update applied on it.
- Other messages (bookTicker, kline, ...) are counted and skipped.
"""

from __future__ import annotations

from typing import Dict, List, Optional

import polars as pl

from .errors import SourceError
from .job import Job
from .messages import INT, LEVELS, NUMBER, TEXT, WORD, Field, decode, level_column, unwrap
from .opening import Member
from .summary import _clock
from .table import JsonLines, first_true
from .tardis import changed_samples
from .update_chain import AFTER_GAP, APPLY, BEFORE_SNAPSHOT, UpdateChain

__all__ = ["Reader"]

# a message's place in the recording: its file's number shifted by this, plus its line
_FILE_SHIFT = 40
# depth updates kept at most while they wait for a snapshot
WAITING = 20_000
_KIND = r'"e"\s*:\s*"([^"]*)"'
_BOOK_SCHEMA = {"order": pl.Int64, "ts": pl.Int64, "kind": pl.String, "bids": pl.String,
                "asks": pl.String}

_DEPTH = [Field("E", INT), Field("T", INT, required=False), Field("s"), Field("U", INT),
          Field("u", INT), Field("pu", INT, required=False), Field("b", LEVELS),
          Field("a", LEVELS)]
_SNAPSHOT = [Field("lastUpdateId", INT), Field("E", INT, required=False),
             Field("T", INT, required=False), Field("bids", LEVELS), Field("asks", LEVELS)]
_TRADE = [Field("E", INT), Field("T", INT, required=False), Field("s"), Field("p", NUMBER),
          Field("q", NUMBER), Field("m", WORD, words=("true", "false"))]
_MARK = [Field("E", INT), Field("s"), Field("r", NUMBER, required=False)]
_FORCE = [Field("E", INT), Field("o.s"), Field("o.S", WORD, words=("BUY", "SELL")),
          Field("o.q", NUMBER), Field("o.p", NUMBER), Field("o.ap", NUMBER, required=False),
          Field("o.z", NUMBER, required=False), Field("o.T", INT, required=False)]
_ANY = [Field("e", TEXT, required=False)]


class Reader:
    def __init__(self, job: Job) -> None:
        self.job = job
        self.chain = UpdateChain()
        self.trade_kind: Optional[str] = None
        self.rate: Optional[float] = None
        self.carried: Optional[int] = None
        self.untimed = pl.DataFrame(schema=_BOOK_SCHEMA)   # events waiting for a time
        self.waiting = pl.DataFrame()                      # updates waiting for a snapshot
        self.sequence = 0
        self.names: List[str] = []   # the files read, in order
        self.where = ""

    def read(self, member: Member) -> None:
        self.where = member.name
        self.names.append(member.name)
        base = (len(self.names) - 1) << _FILE_SHIFT
        for frame in JsonLines(member).frames():
            self._chunk(unwrap(frame.select("no", (pl.col("no") + base).alias("pos"), "line"),
                               "line"))
            self.job.tick()

    def finish(self) -> None:
        self.job.skip(self._waiting_reason(), self.waiting.height)
        self.job.skip("depth snapshots without a time and no update after them",
                      self.untimed.height)

    # -- one chunk of lines -------------------------------------------------------------

    def _chunk(self, frame: pl.DataFrame) -> None:
        text = pl.col("text")
        frame = frame.with_columns(pl.coalesce(
            text.str.extract(_KIND, 1),
            pl.when(text.str.contains('"lastUpdateId"', literal=True)).then(pl.lit("snapshot")))
            .alias("kind"))
        kinds: Dict[Optional[str], pl.DataFrame] = {
            key[0]: part for key, part in frame.partition_by("kind", as_dict=True).items()}
        empty = frame.clear()
        steps = [
            lambda: self._messages(frame),
            lambda: self._trades(kinds.pop("trade", empty), kinds.pop("aggTrade", empty)),
            lambda: self._book(kinds.pop("snapshot", empty), kinds.pop("depthUpdate", empty)),
            lambda: self._funding(kinds.pop("markPriceUpdate", empty)),
            lambda: self._liquidations(kinds.pop("forceOrder", empty)),
            lambda: self._others(kinds)]
        # each kind of message is checked on its own: the fault reported is the first line's
        faults: List[SourceError] = []
        for step in steps:
            try:
                step()
            except SourceError as fault:
                faults.append(fault)
        if faults:
            raise min(faults, key=lambda f: f.line if f.line is not None else 0)

    def _messages(self, frame: pl.DataFrame) -> None:
        bad = first_true(frame, ~pl.col("text").str.starts_with("{"))
        if bad is not None:
            raise SourceError(self.where, int(frame["no"][bad]), "not a JSON message")

    def _others(self, kinds: Dict[Optional[str], pl.DataFrame]) -> None:
        for kind, part in kinds.items():
            part = part.filter(pl.col("text").str.starts_with("{"))
            decode(self.where, part, _ANY, "the message")   # still well-formed JSON
            self.job.skip(f"{kind} messages (no series of the dataset)" if kind
                          else "messages of no known kind", part.height)

    def _decode(self, part: pl.DataFrame, fields: List[Field], what: str,
                symbol: str) -> pl.DataFrame:
        decoded = decode(self.where, part, fields, what)
        return self.job.pick(decoded, symbol, 0, numbers="no")

    # -- trades ------------------------------------------------------------------------

    def _trades(self, trades: pl.DataFrame, aggregated: pl.DataFrame) -> None:
        if self.trade_kind is None and (trades.height or aggregated.height):
            first_trade = trades["no"].min() if trades.height else None
            first_agg = aggregated["no"].min() if aggregated.height else None
            self.trade_kind = ("trade" if first_agg is None or
                               (first_trade is not None and first_trade < first_agg)
                               else "aggTrade")
        kept, other = (trades, aggregated) if self.trade_kind == "trade" else (aggregated, trades)
        if other.height:
            other_kind = "aggTrade" if self.trade_kind == "trade" else "trade"
            decode(self.where, other, _TRADE, f"the {other_kind} message")
            self.job.skip(f"{other_kind} messages (the recording's {self.trade_kind} messages "
                          "are the trades)", other.height)
        if not kept.height:
            return
        rows = self._decode(kept, _TRADE, f"the {self.trade_kind} message", "s")
        self.job.emit("trades", rows.select(
            pl.coalesce("T", "E").alias("ts"), pl.col("p").alias("price"),
            pl.col("q").alias("qty"),
            pl.when(pl.col("m") == "true").then(pl.lit("sell")).otherwise(pl.lit("buy"))
            .alias("side")))

    # -- the book ----------------------------------------------------------------------

    def _book(self, snapshots: pl.DataFrame, updates: pl.DataFrame) -> None:
        snaps = decode(self.where, snapshots, _SNAPSHOT, "the depth snapshot")
        diffs = self._decode(updates, _DEPTH, "the depthUpdate message", "s")
        snaps = level_column(self.where, level_column(self.where, snaps, "bids"), "asks")
        diffs = level_column(self.where, level_column(self.where, diffs, "b"), "a")
        if self.waiting.height:
            diffs = pl.concat([self.waiting, diffs])
        if not snaps.height and not diffs.height:
            return
        order, waiting = self._follow(snaps, diffs)
        self._wait(diffs.filter(pl.col("pos").is_in(waiting)))
        sequence = pl.DataFrame({"pos": [n for n, _ in order], "order": [o for _, o in order]},
                                schema={"pos": pl.Int64, "order": pl.Int64})
        snaps = snaps.join(sequence, on="pos")
        diffs = diffs.join(sequence, on="pos")
        events = pl.concat([
            self.untimed,
            snaps.select("order", pl.coalesce("T", "E").alias("ts"),
                         pl.lit("snapshot").alias("kind"), "bids", "asks"),
            diffs.select("order", pl.coalesce("T", "E").alias("ts"), pl.lit("diff").alias("kind"),
                         pl.col("b").alias("bids"), pl.col("a").alias("asks"))]).sort("order")
        # a snapshot without a time takes the time of the update applied after it
        events = events.with_columns(pl.col("ts").fill_null(strategy="backward"))
        untimed = first_true(events, pl.col("ts").is_null())
        self.untimed = events.slice(untimed) if untimed is not None else events.clear()
        events = events.slice(0, untimed) if untimed is not None else events
        if not events.height:
            return
        events = events.select(self.job.book_stamps(pl.col("ts"), self.carried).alias("ts"),
                               "kind", "bids", "asks")
        self.carried = events["ts"][-1]
        self.job.emit("book", events)

    def _follow(self, snaps: pl.DataFrame,
                diffs: pl.DataFrame) -> "tuple[List[tuple[int, int]], List[int]]":
        """(place in the recording, place in the book's order) of every snapshot and update the book applies,
        and the places of the updates that wait for a snapshot. Updates that come while the
        book has no snapshot to start from (none yet, or a gap) wait for the next one, as
        Binance says to buffer the stream while the snapshot is fetched: those the snapshot
        is not newer than are applied after it."""
        messages = pl.concat([
            snaps.select("pos", pl.lit(True).alias("snapshot"), pl.col("lastUpdateId").alias("U"),
                         pl.lit(None, pl.Int64).alias("u"), pl.lit(None, pl.Int64).alias("pu"),
                         pl.coalesce("T", "E").alias("ts")),
            diffs.select("pos", pl.lit(False).alias("snapshot"), "U", "u", "pu",
                         pl.coalesce("T", "E").alias("ts"))]).sort("pos")
        order: List["tuple[int, int]"] = []
        waiting: List["tuple[int, int, int, Optional[int]]"] = []
        for pos, snapshot, first, last, previous, ts in messages.iter_rows():
            if not snapshot:
                self._judge(pos, first, last, previous, ts, order, waiting)
                continue
            verdict = self.chain.snapshot(first)
            if verdict.action != APPLY:
                self.job.skip(verdict.action, 1)
                continue
            self.sequence += 1
            order.append((pos, self.sequence))
            held, waiting = waiting, []
            for update in held:
                self._judge(*update, order, waiting)
        return order, [w[0] for w in waiting]

    def _judge(self, pos: int, first: int, last: int, previous: Optional[int], ts: int,
               order: List["tuple[int, int]"], waiting: list) -> None:
        verdict = self.chain.update(first, last, previous)
        if verdict.gap:
            where, line = self.names[pos >> _FILE_SHIFT], pos & ((1 << _FILE_SHIFT) - 1)
            self.job.gaps.append(f"{where}: line {line}, {_clock(ts)}: {verdict.gap}; "
                                 "the book starts again at the next snapshot")
        if verdict.action == APPLY:
            self.sequence += 1
            order.append((pos, self.sequence))
        elif verdict.action in (BEFORE_SNAPSHOT, AFTER_GAP):
            waiting.append((pos, first, last, previous, ts))
        else:
            self.job.skip(verdict.action, 1)

    def _wait(self, waiting: pl.DataFrame) -> None:
        """Keeps the last WAITING updates that wait for a snapshot; older ones are dropped."""
        dropped = max(waiting.height - WAITING, 0)
        self.job.skip(self._waiting_reason(), dropped)
        self.waiting = waiting.slice(dropped)

    def _waiting_reason(self) -> str:
        return AFTER_GAP if self.chain.started else BEFORE_SNAPSHOT

    # -- funding and liquidations --------------------------------------------------------

    def _funding(self, marks: pl.DataFrame) -> None:
        if not marks.height:
            return
        rows = self._decode(marks, _MARK, "the markPriceUpdate message", "s")
        samples, self.rate = changed_samples(
            rows.select(pl.col("E").alias("ts"), pl.col("r").alias("rate")), "rate", self.rate)
        self.job.emit("funding", samples)

    def _liquidations(self, orders: pl.DataFrame) -> None:
        if not orders.height:
            return
        rows = self._decode(orders, _FORCE, "the forceOrder message", "o_s")
        average, filled = pl.col("o_ap"), pl.col("o_z")
        self.job.emit("liquidations", rows.select(
            pl.coalesce("o_T", "E").alias("ts"),
            pl.when(average > 0).then(average).otherwise(pl.col("o_p")).alias("price"),
            pl.when(filled > 0).then(filled).otherwise(pl.col("o_q")).alias("qty"),
            pl.when(pl.col("o_S") == "SELL").then(pl.lit("long")).otherwise(pl.lit("short"))
            .alias("side")))
