"""Binance's rules for keeping a local order book from a depth snapshot and the stream of
depth updates, as a verdict per message: apply it, or skip it and why.

- Before the first snapshot no update can be applied.
- After a snapshot with ``lastUpdateId`` L, updates older than it are dropped: for futures
  those with ``u`` < L, for spot those with ``u`` <= L. The first update applied must
  straddle it: futures ``U`` <= L <= ``u``, spot ``U`` <= L + 1 <= ``u``.
- Each later update must follow on: for futures its ``pu`` equals the previous applied
  update's ``u``; for spot its ``U`` equals the previous ``u`` + 1 (a spot update with
  ``u`` at or below the previous ``u`` was applied already and is dropped).
- An update that does not follow on is a gap: it and every update after it are dropped
  until the next snapshot, from which the book starts again. A snapshot that comes while
  the book is in step is not needed and is skipped.

Futures updates carry ``pu``; spot updates do not, which tells the two rules apart.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Optional

__all__ = ["APPLY", "UpdateChain", "Verdict"]

APPLY = "apply"
BEFORE_SNAPSHOT = "depth updates before the first snapshot"
OLDER = "depth updates older than the snapshot"
REPEATED = "depth updates applied already"
AFTER_GAP = "depth updates after a gap in the update chain, before the next snapshot"
NOT_NEEDED = "depth snapshots while the book was in step"


@dataclass(frozen=True)
class Verdict:
    """``action`` is APPLY or the reason the message is skipped; ``gap`` describes a
    broken chain when this message broke it."""

    action: str
    gap: Optional[str] = None


_APPLIED = Verdict(APPLY)


class UpdateChain:
    def __init__(self) -> None:
        self.snapshot_id: Optional[int] = None   # a snapshot taken, no update on it yet
        self.last: Optional[int] = None          # ``u`` of the last applied update
        self.broken = False
        self.started = False

    def snapshot(self, last_update_id: int) -> Verdict:
        if self.last is not None and not self.broken:
            return Verdict(NOT_NEEDED)
        self.snapshot_id, self.last, self.broken, self.started = last_update_id, None, False, True
        return _APPLIED

    def update(self, first: int, last: int, previous: Optional[int]) -> Verdict:
        """``first`` and ``last``: the update's ``U`` and ``u``; ``previous``: its ``pu``
        (None for spot)."""
        if not self.started:
            return Verdict(BEFORE_SNAPSHOT)
        if self.broken:
            return Verdict(AFTER_GAP)
        futures = previous is not None
        if self.snapshot_id is not None:
            return self._first_after_snapshot(first, last, futures)
        assert self.last is not None
        if futures and previous == self.last or not futures and first == self.last + 1:
            self.last = last
            return _APPLIED
        if not futures and last <= self.last:
            return Verdict(REPEATED)
        wanted = f"pu {previous}" if futures else f"U {first}"
        follows = f"u {self.last}" if futures else f"u {self.last} + 1"
        return self._break(f"{wanted} does not follow the previous update's {follows}")

    def _first_after_snapshot(self, first: int, last: int, futures: bool) -> Verdict:
        mark = self.snapshot_id
        assert mark is not None
        start = mark if futures else mark + 1
        if last < start:
            return Verdict(OLDER)
        if first <= start:
            self.snapshot_id, self.last = None, last
            return _APPLIED
        return self._break(f"the first update after the snapshot (lastUpdateId {mark}) "
                           f"starts at U {first}, after it")

    def _break(self, what: str) -> Verdict:
        self.broken, self.snapshot_id = True, None
        return Verdict(AFTER_GAP, what)
