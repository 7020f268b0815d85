"""JSON messages, one a line, decoded column-wise by polars with every fault placed at its
line.

A frame of message texts (a "text" column and a "no" column of line numbers) is decoded
into the fields a reader names. Scalars are decoded as text first and checked there, so
that an integer field holding 1.5 or a price holding "abc" is refused rather than
truncated or turned into a missing value. Only when polars refuses a batch are its lines
looked at one by one, to say which line is wrong and how.
"""

from __future__ import annotations

import json
import re
from dataclasses import dataclass
from typing import Any, Dict, List, Optional, Sequence, Tuple

import polars as pl

from .errors import SourceError
from .records import level_texts
from .table import _alternatives, _show, first_true

__all__ = ["LEVELS", "Field", "decode", "level_column", "unwrap"]

LEVELS = "levels"
INT, NUMBER, TEXT, WORD = "integer", "number", "text", "word"
_INTEGER = r"^[+-]?[0-9]+$"
_NUMBER = r"^[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?$"
_NUMBER_TEXT = re.compile(_NUMBER[1:-1])
_LEVEL_LIST = pl.List(pl.List(pl.String))
# the start of a combined-stream message, up to its data part
_WRAPPED_START = r'^\{"stream":"[^"]*","data":'


@dataclass(frozen=True)
class Field:
    """A field of a message: its path ("o.S" is the field S of the object o), its kind
    (INT, NUMBER, TEXT, WORD with ``words``, or LEVELS: a list of [price, size] pairs),
    whether it must be present, and the column it becomes."""

    path: str
    kind: str = TEXT
    required: bool = True
    words: Optional[Tuple[str, ...]] = None
    column: Optional[str] = None

    @property
    def name(self) -> str:
        return self.column or self.path.replace(".", "_")


def unwrap(frame: pl.DataFrame, column: str) -> pl.DataFrame:
    """``frame`` with ``column`` holding the messages themselves, as "text": a leading
    receive time (digits and a blank) is dropped, and a combined-stream message
    {"stream":"...","data":{...}} gives its data part. Cut with plain string operations and
    without a conditional over the texts: a regular expression, or a when/then choosing
    between long texts, costs more time and memory than the decoding."""
    bare = pl.col(column).str.strip_chars_start(" \t0123456789").str.strip_chars_end()
    frame = frame.with_columns(bare.alias("text")).drop(column)
    wrapped = pl.col("text").str.contains(_WRAPPED_START)
    data = (pl.col("text").str.splitn('"data":', 2).struct.field("field_1")
            .str.strip_suffix("}").alias("text"))
    count = frame.select(wrapped.sum()).item()
    if count == 0:
        return frame
    if count == frame.height:
        return frame.with_columns(data)
    return pl.concat([frame.filter(wrapped).with_columns(data),
                      frame.filter(~wrapped)]).sort("no")


def _dtype(fields: Sequence[Field]) -> pl.DataType:
    tree: Dict[str, Any] = {}
    for field in fields:
        node = tree
        *parents, leaf = field.path.split(".")
        for parent in parents:
            node = node.setdefault(parent, {})
        node[leaf] = _LEVEL_LIST if field.kind == LEVELS else pl.String

    def build(node: Dict[str, Any]) -> pl.DataType:
        return pl.Struct({k: build(v) if isinstance(v, dict) else v for k, v in node.items()})

    return build(tree)


def _path_expr(struct: pl.Expr, path: str) -> pl.Expr:
    for part in path.split("."):
        struct = struct.struct.field(part)
    return struct


def decode(where: str, frame: pl.DataFrame, fields: Sequence[Field], what: str) -> pl.DataFrame:
    """``frame`` ("text", "no" and any others) decoded into its other columns and one
    column per field: integers as Int64, numbers as Float64, words and texts as text,
    levels as a list of [price, size] text pairs (see ``level_column``). ``what`` names
    the message kind in error messages ("the depthUpdate message")."""
    dtype = _dtype(fields)
    try:
        decoded = frame.select(pl.exclude("text"), pl.col("text").str.json_decode(dtype).alias("m"))
    except (pl.exceptions.PolarsError, ValueError):
        _diagnose(where, frame, fields)
        raise SourceError(where, int(frame["no"][0]), f"{what}s cannot be read") from None
    out = decoded.select(pl.exclude("m"), *[_path_expr(pl.col("m"), f.path).alias(f.name) for f in fields])
    for field in fields:
        out = _check(where, out, field, what)
    return out


def _check(where: str, frame: pl.DataFrame, field: Field, what: str) -> pl.DataFrame:
    column = pl.col(field.name)
    if not field.required and field.kind != LEVELS:
        # an optional value given as "" is taken as absent
        frame = frame.with_columns(pl.when(column == "").then(None).otherwise(column)
                                   .alias(field.name))
    if field.required:
        bad = first_true(frame, column.is_null())
        if bad is not None:
            raise SourceError(where, int(frame["no"][bad]), f"{what} has no {field.path}")
    if field.kind == LEVELS:
        return frame
    fault, message, cast = _scalar_rule(field, column)
    bad = first_true(frame, column.is_not_null() & fault)
    if bad is not None:
        value = frame[field.name][bad]
        raise SourceError(where, int(frame["no"][bad]), message(value))
    return frame.with_columns(cast.alias(field.name)) if cast is not None else frame


def _scalar_rule(field: Field, column: pl.Expr):
    name = field.path
    if field.kind == INT:
        value = column.cast(pl.Int64, strict=False)
        return ((~column.str.contains(_INTEGER)) | value.is_null(),
                lambda v: f"{name} is not an integer: {_show(v)}", value)
    if field.kind == NUMBER:
        value = column.cast(pl.Float64, strict=False)
        return ((~column.str.contains(_NUMBER)) | ~value.is_finite().fill_null(False),
                lambda v: f"{name} is not a number: {_show(v)}", value)
    if field.kind == WORD:
        words = list(field.words or ())
        return (~column.is_in(words),
                lambda v: f"{name} is {_show(v)}, expected {_alternatives(words)}", None)
    return pl.lit(False), lambda v: "", None


def level_column(where: str, frame: pl.DataFrame, column: str) -> pl.DataFrame:
    """Replaces the list of [price, size] text pairs in ``column`` with the text of its
    book levels ("[3424.98,1.5],[3425.0,0.0]"); a pair that is not two numbers is an
    error at its line."""
    pair = pl.element()
    price = pair.list.get(0, null_on_oob=True)
    size = pair.list.get(1, null_on_oob=True)
    price_value = price.cast(pl.Float64, strict=False)
    size_value = size.cast(pl.Float64, strict=False)
    fault = ((pair.list.len() != 2) | ~price.str.contains(_NUMBER).fill_null(False)
             | ~size.str.contains(_NUMBER).fill_null(False)
             | ~price_value.is_finite().fill_null(False)
             | ~size_value.is_finite().fill_null(False))
    lists = pl.col(column)
    bad = first_true(frame, lists.list.eval(fault).list.any().fill_null(False))
    if bad is not None:
        faults = frame[column][bad].to_list()
        shown = next(p for p in faults if _bad_pair(p))
        raise SourceError(where, int(frame["no"][bad]),
                          f"{column} holds a level that is not a price and a size: "
                          f"{_show(json.dumps(shown))}")
    texts = lists.list.eval(level_texts(price_value, size_value)).list.join(",")
    return frame.with_columns(texts.fill_null("").alias(column))


def _bad_pair(pair: Optional[List[Optional[str]]]) -> bool:
    if pair is None or len(pair) != 2:
        return True
    for value in pair:
        if value is None or not isinstance(value, str) or not _NUMBER_TEXT.fullmatch(value):
            return True
        try:
            number = float(value)
        except ValueError:
            return True
        if number != number or number in (float("inf"), float("-inf")):
            return True
    return False


# -- one line at a time, for the message of a batch polars refused ---------------------

def _diagnose(where: str, frame: pl.DataFrame, fields: Sequence[Field]) -> None:
    for text, no in zip(frame["text"].to_list(), frame["no"].to_list()):
        try:
            message = json.loads(text)
        except ValueError as bad:
            raise SourceError(where, int(no), f"not valid JSON ({bad})") from None
        if not isinstance(message, dict):
            raise SourceError(where, int(no), "not a JSON object")
        for field in fields:
            value: Any = message
            for part in field.path.split("."):
                value = value.get(part) if isinstance(value, dict) else None
            fault = _shape_fault(field, value)
            if fault:
                raise SourceError(where, int(no), fault)


def _shape_fault(field: Field, value: Any) -> Optional[str]:
    if value is None:
        return None
    if field.kind == LEVELS:
        if not isinstance(value, list) or not all(
                isinstance(p, list) and all(isinstance(x, (str, int, float)) for x in p)
                for p in value):
            return f"{field.path} is not a list of [price, size] pairs"
        return None
    if isinstance(value, (dict, list)):
        return f"{field.path} is not a single value: {_show(json.dumps(value))}"
    return None
