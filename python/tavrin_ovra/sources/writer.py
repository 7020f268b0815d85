"""The dataset file, written as it is produced.

Each input stream writes each of its series into a part file of its own, in a folder
beside the output. At the end the parts of every series are joined in the order of their
first timestamps into one dataset object ({"candles":[...],"trades":[...],...}, records as
arrays), written under a temporary name and renamed onto the output, so that a failed
conversion never leaves a half-written dataset behind.
"""

from __future__ import annotations

import os
import shutil
import tempfile
from dataclasses import dataclass, field
from typing import IO, Dict, List, Optional

from .records import SERIES
from .summary import SeriesTotals

__all__ = ["DatasetWriter"]


@dataclass
class _Part:
    order: int
    file: IO[bytes]
    totals: SeriesTotals = field(default_factory=SeriesTotals)


def _append(out: IO[bytes], part: IO[bytes]) -> None:
    """Appends the whole of ``part`` to ``out`` (both unbuffered or flushed), copied by the
    kernel where it can."""
    size = os.fstat(part.fileno()).st_size
    done = 0
    try:
        while done < size:
            copied = os.copy_file_range(part.fileno(), out.fileno(), size - done, done)
            if copied == 0:
                break
            done += copied
    except (AttributeError, OSError):
        pass
    if done < size:
        part.seek(done)
        shutil.copyfileobj(part, out, 16 << 20)


class DatasetWriter:
    """Collects the record texts of every series; ``finish`` makes the output file."""

    def __init__(self, output: str) -> None:
        self.output = output
        folder = os.path.dirname(os.path.abspath(output))
        self.folder = tempfile.mkdtemp(prefix=f".{os.path.basename(output)}.", dir=folder)
        self.parts: Dict[str, List[_Part]] = {name: [] for name in SERIES}
        self.current: Dict[str, _Part] = {}
        self.order = 0
        self.size = 0

    def start_stream(self) -> None:
        """Later records go into new parts (one input stream has ended)."""
        for part in self.current.values():
            part.file.flush()
        self.current = {}

    def add(self, series: str, text: str, count: int, first: int, last: int) -> None:
        if count == 0:
            return
        part = self.current.get(series)
        if part is None:
            self.order += 1
            handle = open(os.path.join(self.folder, f"{series}.{self.order}"), "w+b")
            part = self.current[series] = _Part(self.order, handle)
            self.parts[series].append(part)
        elif part.totals.count:
            part.file.write(b",")
        part.file.write(text.encode("utf-8"))
        part.totals.take(count, first, last)

    def totals(self) -> Dict[str, SeriesTotals]:
        result = {}
        for name, parts in self.parts.items():
            total = SeriesTotals()
            for part in parts:
                if part.totals.count:
                    total.take(part.totals.count, part.totals.first or 0, part.totals.last or 0)
            result[name] = total
        return result

    def finish(self) -> None:
        temporary = os.path.join(self.folder, "dataset.json")
        with open(temporary, "wb", buffering=0) as out:
            out.write(b"{")
            for index, name in enumerate(SERIES):
                out.write(b'%s"%s":[' % (b"," if index else b"", name.encode()))
                parts = sorted(self.parts[name], key=lambda p: (p.totals.first or 0, p.order))
                for number, part in enumerate(parts):
                    if number:
                        out.write(b",")
                    part.file.flush()
                    _append(out, part.file)
                    part.file.close()
                    os.unlink(part.file.name)
                out.write(b"]")
            out.write(b"}\n")
            self.size = out.tell()
        os.replace(temporary, self.output)
        self.discard()

    def discard(self) -> None:
        """Removes every temporary file; the output, if it was made, stays."""
        for parts in self.parts.values():
            for part in parts:
                try:
                    part.file.close()
                except OSError:
                    pass
        shutil.rmtree(self.folder, ignore_errors=True)
