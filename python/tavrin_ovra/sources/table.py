"""Chunks of a text file as polars frames, with every fault placed at its line.

The fast road hands a whole chunk to polars. Only when polars refuses a chunk, or a value
check finds a bad row, are the lines of that chunk looked at one by one, to say which line
is wrong and how. Boolean fields are parsed by polars itself, which takes "true" and
"false" in any letter case and refuses anything else, as the line check does.
"""

from __future__ import annotations

import csv
import math
import re
from dataclasses import dataclass
from typing import Dict, Iterator, List, Optional, Sequence, Tuple

import polars as pl

from .errors import SourceError
from .opening import Member, ahead

__all__ = ["BOOL", "FLOAT", "INT", "TEXT", "CsvSource", "Field", "JsonLines", "first_true",
           "line_of"]

INT, FLOAT, TEXT, BOOL = "integer", "number", "text", "boolean"
_DTYPES = {INT: pl.Int64, FLOAT: pl.Float64, TEXT: pl.String, BOOL: pl.Boolean}
_INTEGER = re.compile(r"[+-]?[0-9]+")
_NUMBER = re.compile(r"[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?")
_NONFINITE = re.compile(r"[+-]?(inf|infinity|nan)", re.IGNORECASE)


@dataclass(frozen=True)
class Field:
    """A column a reader needs: its name, kind, whether it may be empty, and the words it
    may hold (for enumerations, compared exactly)."""

    name: str
    kind: str = TEXT
    required: bool = True
    words: Optional[Tuple[str, ...]] = None


def first_true(frame: pl.DataFrame, mask: pl.Expr) -> Optional[int]:
    """Row index of the first row where ``mask`` holds, None if there is none."""
    found = frame.select(mask.fill_null(True).arg_true().first()).item()
    return None if found is None else int(found)


def line_of(data: bytes, index: int) -> bytes:
    """The ``index``-th (0-based) line of ``data``."""
    return data.split(b"\n", index + 1)[index]


class CsvSource:
    """A comma-separated member read by column name (``names`` in file order)."""

    def __init__(self, member: Member, names: Sequence[str], fields: Sequence[Field],
                 header: bool) -> None:
        self.member = member
        self.names = list(names)
        self.fields: Dict[str, Field] = {f.name: f for f in fields}
        missing = [f.name for f in fields if f.name not in self.names]
        if missing:
            raise SourceError(member.name, 1, f"no column {', '.join(missing)} in the header")
        self.header = header
        self.schema = {n: _DTYPES[self.fields[n].kind] if n in self.fields else pl.String
                       for n in self.names}

    def frames(self) -> Iterator[Tuple[int, pl.DataFrame]]:
        """(first line, frame) per chunk; boolean fields come out as booleans. The next
        chunk is parsed on a helper thread while the reader works on this one."""
        return ahead(self._frames())

    def _frames(self) -> Iterator[Tuple[int, pl.DataFrame]]:
        for chunk in self.member.chunks():
            data, first, lines = chunk.data, chunk.first_line, chunk.lines
            if self.header and first == 1:
                cut = data.index(b"\n") + 1
                data, first, lines = data[cut:], 2, lines - 1
            if lines == 0:
                continue
            yield first, self._frame(data, first, lines)

    def _frame(self, data: bytes, first: int, lines: int) -> pl.DataFrame:
        try:
            frame = pl.read_csv(data, has_header=False, new_columns=self.names,
                                schema=self.schema, raise_if_empty=False)
        except (pl.exceptions.PolarsError, ValueError) as refused:
            self.diagnose(data, first)
            raise SourceError(self.member.name, first, f"unreadable lines ({_first_line(refused)})")
        if frame.height != lines:
            self.diagnose(data, first)
            raise SourceError(self.member.name, first, "lines that do not split into rows")
        bad = first_true(frame, pl.any_horizontal(self._faults()))
        if bad is not None:
            self.fail(data, first, bad)
        return frame

    def _faults(self) -> List[pl.Expr]:
        faults = [pl.lit(False)]
        for field in self.fields.values():
            column = pl.col(field.name)
            value_bad = pl.lit(False)
            if field.kind == FLOAT:
                value_bad = ~column.is_finite()
            if field.words is not None:  # a few words: comparisons beat a set lookup
                value_bad = value_bad | ~pl.any_horizontal([column == w for w in field.words])
            if field.required:
                faults.append(column.is_null())
            faults.append(column.is_not_null() & value_bad)
        return faults

    def fail(self, data: bytes, first: int, index: int, what: Optional[str] = None) -> None:
        """Raises the error for row ``index`` of the chunk starting at line ``first``."""
        text = line_of(data, index)
        raise SourceError(self.member.name, first + index,
                          what or self.describe(text) or f"bad row: {_show(text)}")

    def diagnose(self, data: bytes, first: int) -> None:
        """Raises the error of the first bad line of ``data``, if one is found."""
        for index, text in enumerate(data.split(b"\n")[:-1]):
            what = self.describe(text)
            if what:
                raise SourceError(self.member.name, first + index, what)

    def describe(self, text: bytes) -> Optional[str]:
        """What is wrong with one line, None if nothing is."""
        try:
            line = text.decode("utf-8")
        except UnicodeDecodeError:
            return "not UTF-8 text"
        if not line.strip():
            return "empty line"
        values = next(csv.reader([line]))
        if len(values) != len(self.names):
            return f"expected {len(self.names)} columns, found {len(values)}"
        for name, value in zip(self.names, values):
            field = self.fields.get(name)
            if field is not None:
                what = _value_fault(field, value)
                if what:
                    return what
        return None


def _value_fault(field: Field, value: str) -> Optional[str]:
    if value == "":
        return f"{field.name} is empty" if field.required else None
    if field.kind == INT and not _INTEGER.fullmatch(value):
        return f"{field.name} is not an integer: {_show(value)}"
    if field.kind == INT and not -(1 << 63) <= int(value) < (1 << 63):
        return f"{field.name} is out of range: {_show(value)}"
    if field.kind == FLOAT:
        if _NONFINITE.fullmatch(value) or (_NUMBER.fullmatch(value) and not math.isfinite(float(value))):
            return f"{field.name} is not a finite number: {_show(value)}"
        if not _NUMBER.fullmatch(value):
            return f"{field.name} is not a number: {_show(value)}"
    if field.kind == BOOL and value.lower() not in ("true", "false"):
        return f"{field.name} is not true or false: {_show(value)}"
    if field.words is not None and value not in field.words:
        return f"{field.name} is {_show(value)}, expected {_alternatives(field.words)}"
    return None


def _alternatives(words: Sequence[str]) -> str:
    shown = [_show(w) for w in words]
    return shown[0] if len(shown) == 1 else ", ".join(shown[:-1]) + " or " + shown[-1]


def _show(value: object) -> str:
    text = value.decode("utf-8", "replace") if isinstance(value, bytes) else str(value)
    if len(text) > 60:
        text = text[:57] + "..."
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def _first_line(failure: BaseException) -> str:
    return str(failure).strip().split("\n")[0]


class JsonLines:
    """A member of one JSON value a line: chunks as frames of a "line" text column and a
    "no" column of line numbers; blank lines are left out."""

    def __init__(self, member: Member) -> None:
        self.member = member

    def frames(self) -> Iterator[pl.DataFrame]:
        for chunk in self.member.chunks():
            try:
                frame = pl.read_csv(chunk.data, has_header=False, new_columns=["line"],
                                    schema={"line": pl.String}, separator="\x1f",
                                    quote_char=None, raise_if_empty=False)
            except (pl.exceptions.PolarsError, ValueError):
                frame = None
            if frame is None or frame.height != chunk.lines:
                self._unsplittable(chunk.data, chunk.first_line)
            yield (frame.with_row_index("no", offset=chunk.first_line)
                   .with_columns(pl.col("no").cast(pl.Int64))
                   .filter(pl.col("line").str.strip_chars().str.len_bytes() > 0))

    def _unsplittable(self, data: bytes, first: int) -> None:
        for index, text in enumerate(data.split(b"\n")[:-1]):
            try:
                text.decode("utf-8")
            except UnicodeDecodeError:
                raise SourceError(self.member.name, first + index, "not UTF-8 text") from None
            if b"\x1f" in text:
                raise SourceError(self.member.name, first + index,
                                  "a control character outside a JSON string")
        raise SourceError(self.member.name, first, "lines that cannot be read")

    def fail(self, line: int, what: str) -> None:
        raise SourceError(self.member.name, line, what)
