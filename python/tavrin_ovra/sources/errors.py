"""The one error of a conversion: where in which file, and what is wrong there."""

from __future__ import annotations

from typing import Optional

__all__ = ["ConvertError", "SourceError"]


class ConvertError(Exception):
    """A conversion that cannot go on; the message is one line for the user."""


class SourceError(ConvertError):
    """Bad input: the file (or archive member), the 1-based line if known, and the fault."""

    def __init__(self, where: str, line: Optional[int], what: str) -> None:
        self.where, self.line, self.what = where, line, what
        place = f"{where}: line {line}" if line is not None else where
        super().__init__(f"{place}: {what}")
