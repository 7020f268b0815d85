"""What a conversion wrote and what it left out, as data and as text."""

from __future__ import annotations

from dataclasses import dataclass, field
from datetime import datetime, timezone
from typing import Dict, List, Optional

__all__ = ["SeriesTotals", "Summary"]

_NAMES = {"candles": "candles", "trades": "trades", "book": "book events",
          "funding": "funding samples", "oi": "open-interest samples",
          "liquidations": "liquidations"}


@dataclass
class SeriesTotals:
    """How many records a series got and the times they span."""

    count: int = 0
    first: Optional[int] = None
    last: Optional[int] = None

    def take(self, count: int, first: int, last: int) -> None:
        self.count += count
        self.first = first if self.first is None else min(self.first, first)
        self.last = last if self.last is None else max(self.last, last)


@dataclass
class Summary:
    output: str
    size: int
    instrument: Optional[str]
    series: Dict[str, SeriesTotals]
    skipped: Dict[str, int] = field(default_factory=dict)
    gaps: List[str] = field(default_factory=list)
    notes: List[str] = field(default_factory=list)

    @property
    def records(self) -> int:
        return sum(t.count for t in self.series.values())

    def text(self) -> str:
        who = f" for {self.instrument}" if self.instrument else ""
        lines = [f"wrote {self.output}{who}: {self.records:,} records, {_size(self.size)}"]
        width = max(len(n) for n in _NAMES.values())
        for name, totals in self.series.items():
            if totals.count:
                lines.append(f"  {_NAMES[name]:<{width}} {totals.count:>12,}  "
                             f"{_clock(totals.first)} .. {_clock(totals.last)}")
        for note in self.notes:
            lines.append(f"  {note}")
        if self.skipped:
            lines.append("skipped:")
            lines += [f"  {count:>12,} {reason}" for reason, count in self.skipped.items()]
        if self.gaps:
            lines.append(f"gaps in the book's update chain: {len(self.gaps)}")
            lines += [f"  {gap}" for gap in self.gaps[:20]]
            if len(self.gaps) > 20:
                lines.append(f"  ... and {len(self.gaps) - 20} more")
        return "\n".join(lines)


def _clock(ms: Optional[int]) -> str:
    if ms is None:
        return "-"
    when = datetime.fromtimestamp(ms / 1000.0, tz=timezone.utc)
    return when.strftime("%Y-%m-%d %H:%M:%S.") + f"{ms % 1000:03d}"


def _size(n: int) -> str:
    return f"{n / (1 << 20):.1f} MiB" if n >= 1 << 20 else f"{n:,} bytes"
