"""Opening input files: plain text, gzip, or a zip archive of one or more members.

The compression is told by the file's first bytes, not by its name. Text is handed on in
chunks that end at a line break, each with the number of its first line, so that every
reader can name the line of a fault. Decompression runs on a helper thread one chunk
ahead of the reader (zlib lets the interpreter lock go while it works). Chunks are kept
to a few MiB: large enough that the per-chunk work of the readers is negligible, small
enough that the allocator reuses their memory instead of mapping fresh pages each time.
"""

from __future__ import annotations

import os
import queue
import threading
import zipfile
import zlib
from dataclasses import dataclass
from typing import IO, Any, Callable, Iterator, List, Optional, TypeVar

from .errors import SourceError

try:  # optional (in the "sources" extra): the same streams, inflated about twice as fast
    from isal import isal_zlib as _inflating
    _INFLATE_ERRORS: tuple = (zlib.error, _inflating.error)
except ImportError:  # pragma: no cover - depends on what is installed
    _inflating = zlib  # type: ignore[assignment]
    _INFLATE_ERRORS = (zlib.error,)

__all__ = ["Chunk", "Member", "ahead", "members"]

T = TypeVar("T")

CHUNK_BYTES = 8 << 20
_GZIP_READ = 1 << 20  # compressed bytes handed to zlib at a time
_GZIP_MAGIC = b"\x1f\x8b"
_ZIP_MAGICS = (b"PK\x03\x04", b"PK\x05\x06")


@dataclass
class Chunk:
    """Whole lines of text: ``data`` ends with a line break; ``first_line`` is 1-based."""

    first_line: int
    data: bytes
    lines: int


class Member:
    """One stream of text: a plain or gzip file, or one member of a zip archive."""

    def __init__(self, name: str, opener: Callable[[], IO[bytes]], size: int,
                 position: Callable[[IO[bytes]], int], damaged: str) -> None:
        self.name = name
        self._open = opener
        self.size = max(size, 1)
        self._position = position
        self._damaged = damaged
        self.done = 0
        self._streams: List[IO[bytes]] = []

    def close(self) -> None:
        """Closes what a reading left open (a reading stopped by an error)."""
        while self._streams:
            try:
                self._streams.pop().__exit__(None, None, None)
            except (OSError, ValueError):
                pass

    def first_line(self, limit: int = 1 << 20) -> bytes:
        """The first non-blank line (without its line break), for telling the kind of file.
        Read in small pieces and only so far, so that a fault further on is met, and placed
        at its line, by the reading proper."""
        chunks = self.chunks(chunk_bytes=min(limit, 1 << 16), prefetch=False)
        seen = 0
        try:
            for chunk in chunks:
                for line in chunk.data.split(b"\n"):
                    if line.strip():
                        return line
                seen += len(chunk.data)
                if seen >= limit:
                    break
        finally:
            chunks.close()
        return b""

    def chunks(self, chunk_bytes: int = 0, prefetch: bool = True) -> Iterator[Chunk]:
        raw = self._reads(chunk_bytes or CHUNK_BYTES)
        yield from _lines(ahead(raw) if prefetch else raw, self.name)

    def _reads(self, chunk_bytes: int) -> Iterator[bytes]:
        stream = self._open()
        self._streams.append(stream)
        with stream:
            while True:
                try:
                    block = stream.read(chunk_bytes)
                except (EOFError, OSError, zipfile.BadZipFile) + _INFLATE_ERRORS as bad:
                    raise _Damaged(f"{self._damaged} ({_reason(bad)})") from None
                if not block:
                    return
                self.done = self._position(stream)
                yield block


class _Damaged(Exception):
    """A decompression failure, raised on the reading side and placed at a line there."""


def members(path: str) -> List[Member]:
    """The text streams of ``path`` in archive order."""
    try:
        with open(path, "rb") as probe:
            magic = probe.read(4)
        size = os.path.getsize(path)
    except OSError as failure:
        raise SourceError(path, None, failure.strerror or str(failure)) from None
    if magic[:2] == _GZIP_MAGIC:
        return [_gzip_member(path, size)]
    if magic in _ZIP_MAGICS:
        return _zip_members(path)
    return [Member(path, lambda: open(path, "rb"), size, lambda s: s.tell(),
                   "the file cannot be read")]


def _gzip_member(path: str, size: int) -> Member:
    raw: List[IO[bytes]] = []

    def opener() -> IO[bytes]:
        file = open(path, "rb")
        raw[:] = [file]
        return _Gunzip(file)

    return Member(path, opener, size, lambda _s: raw[0].tell() if raw else 0,
                  "the gzip stream is damaged or truncated")


class _Gunzip:
    """The text of a gzip file (one member or several in a row), inflated straight from the
    file's bytes (by ISA-L where it is installed, else by zlib). ``read`` gives at least ``n`` bytes where the file has
    them; the text of a truncated or damaged stream is never given out, its fault is
    raised instead."""

    def __init__(self, file: IO[bytes]) -> None:
        self.file = file
        self.inflate = _inflating.decompressobj(31)
        self.started = False

    def read(self, n: int) -> bytes:
        pieces: List[bytes] = []
        have = 0
        while have < n:
            compressed = self.file.read(_GZIP_READ)
            if not compressed:
                self._end()
                break
            while compressed:
                if not self.started:
                    compressed = compressed.lstrip(b"\x00")  # padding between members
                    if not compressed:
                        break
                piece = self.inflate.decompress(compressed)
                self.started = True
                if piece:
                    pieces.append(piece)
                    have += len(piece)
                compressed = self._next_member() if self.inflate.eof else b""
        return pieces[0] if len(pieces) == 1 else b"".join(pieces)

    def _next_member(self) -> bytes:
        """After the end of one member: the bytes read of what follows."""
        rest = self.inflate.unused_data
        self.inflate = _inflating.decompressobj(31)
        self.started = False
        return rest

    def _end(self) -> None:
        if self.started and not self.inflate.eof:
            raise EOFError("the compressed file ended before the end of its stream")

    def __enter__(self) -> "_Gunzip":
        return self

    def __exit__(self, *_exc: object) -> None:
        self.file.close()


def _zip_members(path: str) -> List[Member]:
    try:
        with zipfile.ZipFile(path) as archive:
            infos = [info for info in archive.infolist() if not info.is_dir()]
    except (zipfile.BadZipFile, OSError, EOFError) as bad:
        raise SourceError(path, None, f"not a readable zip archive ({_reason(bad)})") from None
    if not infos:
        raise SourceError(path, None, "the zip archive holds no file")
    return [_zip_member(path, info) for info in infos]


def _zip_member(path: str, info: zipfile.ZipInfo) -> Member:
    done = [0]

    def opener() -> IO[bytes]:
        archive = zipfile.ZipFile(path)
        member = archive.open(info)
        return _Closing(member, archive, done)

    return Member(f"{path}:{info.filename}", opener, info.file_size, lambda _s: done[0],
                  "the zip member is damaged or truncated")


class _Closing:
    """A decompressing stream that also closes what lies under it (the archive or the
    file) and counts what it gave out."""

    def __init__(self, member: IO[bytes], archive: Any, done: Optional[List[int]]) -> None:
        self.member, self.archive, self.count = member, archive, done
        if done is not None:
            done[0] = 0

    def read(self, n: int) -> bytes:
        block = self.member.read(n)
        if self.count is not None:
            self.count[0] += len(block)
        return block

    def __enter__(self) -> "_Closing":
        return self

    def __exit__(self, *_exc: object) -> None:
        self.member.close()
        self.archive.close()


def _reason(bad: BaseException) -> str:
    text = str(bad).strip()
    return text[0].lower() + text[1:] if text else type(bad).__name__


def ahead(items: Iterator[T]) -> Iterator[T]:
    """``items``, made one or two ahead on a helper thread (which gets somewhere where
    making an item lets the interpreter lock go: zlib, polars). An error raised there is
    raised here, in turn."""
    slots: "queue.Queue[object]" = queue.Queue(maxsize=2)
    stop = threading.Event()
    end = object()

    def hand(item: object) -> bool:
        """Puts ``item`` in a slot; False when the reading side has stopped."""
        while not stop.is_set():
            try:
                slots.put(item, timeout=0.1)
                return True
            except queue.Full:
                continue
        return False

    def pump() -> None:
        try:
            for item in items:
                if not hand(item):
                    return
            hand(end)
        except BaseException as failure:  # handed over to the reading thread
            hand(failure)
        finally:
            close = getattr(items, "close", None)
            if close is not None:
                close()

    helper = threading.Thread(target=pump, name="tavrin-ovra-read", daemon=True)
    helper.start()
    try:
        while True:
            item = slots.get()
            if item is end:
                return
            if isinstance(item, BaseException):
                raise item
            yield item  # type: ignore[misc]
    finally:
        stop.set()
        helper.join(timeout=5.0)


def _lines(blocks: Iterator[bytes], name: str) -> Iterator[Chunk]:
    """Re-cuts ``blocks`` at line breaks; CRLF becomes LF; the last line gets its break.
    Each byte is copied at most once (a block that ends at a line break not at all)."""
    line = 1
    rest = b""
    try:
        for block in blocks:
            cut = block.rfind(b"\n") + 1
            if cut == 0:
                rest += block
                continue
            if not rest and cut == len(block):
                data = block
            else:
                data = b"".join((rest, memoryview(block)[:cut]))
            rest = block[cut:]
            chunk = _chunk(line, data)
            line += chunk.lines
            yield chunk
    except _Damaged as damaged:
        raise SourceError(name, line + rest.count(b"\n"), str(damaged)) from None
    if rest:
        yield _chunk(line, rest + b"\n")


def _chunk(line: int, data: bytes) -> Chunk:
    if b"\r" in data:
        data = data.replace(b"\r\n", b"\n")
    return Chunk(line, data, data.count(b"\n"))
