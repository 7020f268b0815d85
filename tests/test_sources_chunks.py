"""The bulk road of the converters against a plain reading of the same rules: Tardis book
rows grouped into events whatever the chunk edges (a message or a snapshot run cut in two
is still one event), sides put in record order, and gzip streams of several members,
padding and truncation read alike by every inflater."""

import gzip
import json
import random
import zlib

import pytest

pytest.importorskip("polars", reason="the converters need polars (pip install \"tavrin_ovra[sources]\")")

from tavrin_ovra import sources  # noqa: E402
from tavrin_ovra.sources import opening  # noqa: E402

HEADER = "exchange,symbol,timestamp,local_timestamp,is_snapshot,side,price,amount\n"


def book_rows(seed, messages=60, ordered=False):
    """Rows of a few snapshot runs and many diff messages: (timestamp µs, local µs, is
    snapshot, side, price text, amount text). Exchange times step back now and then."""
    rng = random.Random(seed)
    rows, local = [], 1721347200000000
    for number in range(messages):
        local += rng.choice([1, 7, 1000])
        snapshot = number % 20 in (0, 1)         # two snapshot messages in a row: one run
        size = rng.choice([1, 2, 3, 25] if not snapshot else [30, 80])
        sides = [rng.choice(["bid", "ask"]) for _ in range(size)]
        if ordered:                               # bids first, as exchanges send them
            sides.sort(reverse=True)
        stamp = local - rng.choice([0, 500, 1500, 2500])
        for side in sides:
            price = f"{3400 + rng.randrange(5000) / 100:.{rng.choice([1, 2, 3])}f}"
            amount = rng.choice(["0", "1", "0.001", "12.5", "3.250", "1e-5"])
            rows.append((stamp, local, snapshot, side, price, amount))
    return rows


def book_csv(rows, lead=()):
    lines = [f"binance-futures,ETHUSDT,{t},{lt},{str(s).lower()},{side},{p},{a}\n"
             for t, lt, s, side, p, a in list(lead) + rows]
    return HEADER + "".join(lines)


def expected_events(rows):
    """The documented grouping, row by row: a run of snapshot rows is one event, other rows
    one event per local_timestamp; an event's time is its latest row's, in ms rounded up,
    made a running maximum; bids then asks, each in row order."""
    events, previous = [], None
    for t, lt, snapshot, side, price, amount in rows:
        key = ("snapshot",) if snapshot else ("diff", lt)
        if key != previous:
            events.append({"ts": 0, "kind": key[0], "bid": [], "ask": []})
            previous = key
        event = events[-1]
        event["ts"] = max(event["ts"], -(-t // 1000))
        event[side].append([float(price), float(amount)])
    records, latest = [], None
    for event in events:
        latest = event["ts"] if latest is None else max(latest, event["ts"])
        records.append([latest, event["kind"], event["bid"], event["ask"]])
    return records


def converted(tmp_path, text, name="book.csv"):
    path = tmp_path / name
    path.write_text(text)
    out = tmp_path / "out.json"
    summary = sources.convert("tardis", [str(path)], str(out))
    return out.read_bytes(), summary


@pytest.mark.parametrize("seed, ordered", [(1, False), (2, False), (3, True), (4, True)])
def test_book_events_do_not_depend_on_chunk_edges(tmp_path, monkeypatch, seed, ordered):
    """Chunks from a few lines to the whole file: the same bytes, and the events the rules
    give row by row (messages and snapshot runs of 30 to 160 rows cross many edges)."""
    rows = book_rows(seed, ordered=ordered)
    lead = [(1721347100000000, 1721347100000001, False, "bid", "3400.0", "1")]
    text = book_csv(rows, lead)
    outputs = []
    for size in (1 << 20, 1500, 150):
        monkeypatch.setattr(opening, "CHUNK_BYTES", size)
        output, summary = converted(tmp_path, text)
        outputs.append(output)
    assert outputs[1:] == outputs[:1] * 2
    got = json.loads(outputs[0])
    assert got["book"] == expected_events(rows)
    assert summary.skipped == {"book rows before the first snapshot": 1}
    assert summary.series["book"].count == len(got["book"])


CUTS = [
    # a message of three rows cut after its first row
    ("message", ["true,bid,1.5,1", "true,ask,2.5,1"], ["false,bid,1.25,2", "false,ask,2.75,3",
                                                      "false,bid,1.5,0"]),
    # a snapshot run whose rows change local_timestamp, cut in its middle
    ("snapshot", ["true,bid,1.5,1", "true,bid,1.25,1", "true,ask,2.5,1", "true,ask,2.75,1"], []),
]


@pytest.mark.parametrize("what, snapshot, diff", CUTS, ids=[c[0] for c in CUTS])
def test_an_event_cut_by_a_chunk_edge_is_one_event(tmp_path, monkeypatch, what, snapshot, diff):
    lines = [f"binance-futures,ETHUSDT,1721347200000000,{1721347200000000 + i},{row}"
             for i, row in enumerate(snapshot)]
    lines += [f"binance-futures,ETHUSDT,1721347200005000,1721347200009000,{row}" for row in diff]
    text = HEADER + "\n".join(lines) + "\n"
    cut_at = len(HEADER) + len(lines[0]) + 1 + (len(lines[1]) + 1 if what == "snapshot" else 0)
    if what == "message":
        cut_at = len(HEADER) + sum(len(line) + 1 for line in lines[:len(snapshot) + 1])
    monkeypatch.setattr(opening, "CHUNK_BYTES", cut_at)
    got = json.loads(converted(tmp_path, text)[0])["book"]
    whole = [[1721347200000, "snapshot", [[1.5, 1.0], [1.25, 1.0]] if what == "snapshot" else [[1.5, 1.0]],
              [[2.5, 1.0], [2.75, 1.0]] if what == "snapshot" else [[2.5, 1.0]]]]
    if what == "message":
        whole.append([1721347200005, "diff", [[1.25, 2.0], [1.5, 0.0]], [[2.75, 3.0]]])
    assert got == whole


def test_a_bad_row_in_a_later_chunk_is_placed_at_its_line(tmp_path, monkeypatch):
    rows = book_rows(5)
    text = book_csv(rows).splitlines(keepends=True)
    bad = len(text) - 3
    text[bad - 1] = text[bad - 1].replace(",bid,", ",buy,").replace(",ask,", ",buy,")
    monkeypatch.setattr(opening, "CHUNK_BYTES", 200)
    with pytest.raises(sources.SourceError, match=rf"line {bad}: side is \"buy\", expected"):
        converted(tmp_path, "".join(text))
    assert sorted(p.name for p in tmp_path.iterdir()) == ["book.csv"]


# -- gzip --------------------------------------------------------------------------------

INFLATERS = [pytest.param(zlib, id="zlib")]
try:
    from isal import isal_zlib
    INFLATERS.append(pytest.param(isal_zlib, id="isal"))
except ImportError:  # the faster inflater is optional
    pass


def _gzip_text(text, members, padding=b""):
    """``text`` in ``members`` gzip members, each followed by ``padding``."""
    data = text.encode()
    step = -(-len(data) // members)
    return b"".join(gzip.compress(data[i:i + step]) + padding for i in range(0, len(data), step))


@pytest.mark.parametrize("inflater", INFLATERS)
@pytest.mark.parametrize("members, padding", [(1, b""), (3, b""), (2, b"\x00" * 700)])
def test_gzip_of_several_members_reads_as_its_text(tmp_path, monkeypatch, inflater, members, padding):
    monkeypatch.setattr(opening, "_inflating", inflater)
    monkeypatch.setattr(opening, "_GZIP_READ", 512)
    monkeypatch.setattr(opening, "CHUNK_BYTES", 1000)
    text = book_csv(book_rows(6))
    plain, _ = converted(tmp_path, text)
    packed = tmp_path / "book.csv.gz"
    packed.write_bytes(_gzip_text(text, members, padding))
    assert gzip.decompress(packed.read_bytes()) == text.encode()
    out = tmp_path / "packed.json"
    sources.convert("tardis", [str(packed)], str(out))
    assert out.read_bytes() == plain


@pytest.mark.parametrize("inflater", INFLATERS)
@pytest.mark.parametrize("damage", ["truncated", "flipped"])
def test_a_damaged_gzip_names_the_first_line_not_read(tmp_path, monkeypatch, inflater, damage):
    monkeypatch.setattr(opening, "_inflating", inflater)
    monkeypatch.setattr(opening, "_GZIP_READ", 256)
    monkeypatch.setattr(opening, "CHUNK_BYTES", 2000)
    text = book_csv(book_rows(7, messages=400))
    data = bytearray(_gzip_text(text, 2))
    if damage == "truncated":
        data = data[:-12]
    else:
        data[-6] ^= 0xFF                         # the last member's length check
    packed = tmp_path / "book.csv.gz"
    packed.write_bytes(bytes(data))
    with pytest.raises(sources.SourceError) as raised:
        sources.convert("tardis", [str(packed)], str(tmp_path / "out.json"))
    message = str(raised.value)
    assert "the gzip stream is damaged or truncated" in message
    line = int(message.split("line ")[1].split(":")[0])
    assert 1 < line <= text.count("\n")          # the chunks before the damage were read
    assert sorted(p.name for p in tmp_path.iterdir()) == ["book.csv.gz"]


# -- reading ahead -----------------------------------------------------------------------

def test_reading_ahead_hands_over_an_error_after_the_items_before_it():
    """A slow reader still gets every item and then the error, however long it takes."""
    import time

    def items():
        yield from (1, 2, 3)
        raise ValueError("the fourth")

    got = []
    with pytest.raises(ValueError, match="the fourth"):
        for item in opening.ahead(items()):
            if not got:
                time.sleep(1.3)                  # longer than any wait of the helper
            got.append(item)
    assert got == [1, 2, 3]


def test_reading_ahead_stops_and_closes_its_source_with_the_reader():
    import threading
    closed = []

    def endless():
        try:
            number = 0
            while True:
                number += 1
                yield number
        finally:
            closed.append(True)

    stream = opening.ahead(endless())
    assert next(stream) == 1
    stream.close()
    assert closed == [True]
    assert not [t for t in threading.enumerate() if t.name == "tavrin-ovra-read"]
