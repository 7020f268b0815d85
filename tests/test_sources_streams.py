"""Converting recorded Binance streams and Bybit history files: the book's update chain
(snapshot, older updates, follow-on checks for futures and spot, gaps and the snapshot
after them), the side and time conventions, chunk and file edges, loading a converted
recording, and every bad input (one line, exit 1, no output)."""

import gzip
import json
import os
import zipfile

import pytest

pytest.importorskip("polars", reason="the converters need polars (pip install \"tavrin_ovra[sources]\")")

import polars as pl  # noqa: E402

from tavrin_ovra import Ovra, cli, sources  # noqa: E402
from tavrin_ovra.sources import binance_stream, opening  # noqa: E402
from tavrin_ovra.sources.bybit import milliseconds_of_seconds  # noqa: E402
from tavrin_ovra.sources.update_chain import APPLY, UpdateChain  # noqa: E402

FIXTURES = os.path.join(os.path.dirname(__file__), "fixtures", "sources")
EMPTY = {"candles": [], "trades": [], "book": [], "funding": [], "oi": [], "liquidations": []}
FUTURES = "binance_futures_stream.txt"
SPOT = "binance_spot_stream.txt"
RECORDED = "ethusdt_20240718_head.gz"     # the first 300 lines of a real recording
OB = "2024-07-19_ETHUSDT_ob500.data"


def fixture(name):
    return os.path.join(FIXTURES, name)


def convert(tmp_path, fmt, *names, **options):
    out = tmp_path / "out.json"
    summary = sources.convert(fmt, [n if os.path.isabs(n) else fixture(n) for n in names],
                              str(out), **options)
    return json.loads(out.read_text()), summary


def dataset(**series):
    return dict(EMPTY, **series)


def lines(name):
    opener = gzip.open if name.endswith(".gz") else open
    with opener(fixture(name), "rt") as f:
        return f.read().splitlines()


def write(tmp_path, name, texts):
    path = tmp_path / name
    data = ("\n".join(texts) + "\n").encode()
    if name.endswith(".gz"):
        data = gzip.compress(data)
    path.write_bytes(data)
    return str(path)


CASES = [
    # futures: the updates before the snapshot wait for it and the older one is dropped;
    # the one straddling lastUpdateId 8 follows the snapshot; pu 13 after u 12 is a gap;
    # the book starts again at the next snapshot, its first update lifted to its time;
    # aggTrade came first, so trade messages are skipped; m true is a sell; funding where
    # r changes, at E (not at T, the next funding time); forceOrder SELL is a long forced
    # out, at the average price and filled quantity, else the order's
    ("binance-stream", [FUTURES], {"candles": "none"}, dataset(
        trades=[[1721347200020, 3424.5, 0.3, "sell"]],
        book=[[1721347200025, "snapshot", [[3424.1, 1.5], [3424.0, 4.0]], [[3425.0, 3.0], [3425.1, 1.0]]],
              [1721347200029, "diff", [[3424.1, 2.0]], [[3425.0, 0.0]]],
              [1721347200050, "diff", [], [[3425.2, 5.0]]],
              [1721347200095, "snapshot", [[3424.3, 1.0]], [[3425.3, 2.0]]],
              [1721347200095, "diff", [[3424.3, 1.0]], []],
              [1721347200100, "diff", [], [[3425.3, 0.0]]]],
        funding=[[1721347201000, 0.0001], [1721347205000, 0.00012]],
        liquidations=[[1721347203000, 3410.5, 2.0, "long"], [1721347204000, 3450.0, 1.0, "short"]])),
    # spot: u <= lastUpdateId is older; the first update must hold lastUpdateId + 1; the
    # snapshot, which has no time, takes the first applied update's; a repeated update is
    # dropped; U 107 after u 105 is a gap; m false is a buy; times are E where T is absent
    ("binance-stream", [SPOT], {"candles": "none"}, dataset(
        trades=[[1721347200024, 0.0025, 3.0, "buy"]],
        book=[[1721347200020, "snapshot", [[0.0024, 10.0], [0.0023, 5.0]], [[0.0026, 100.0]]],
              [1721347200020, "diff", [[0.0024, 0.0]], [[0.0025, 1.0]]],
              [1721347200030, "diff", [], [[0.0025, 2.0]]]])),
    # Bybit order book: the delta before the first snapshot is skipped; size "0" removes;
    # the last delta's earlier ts is lifted so that no sort reorders the book's changes
    ("bybit", [OB], {}, dataset(book=[
        [1721347200011, "snapshot", [[3424.98, 12.5], [3424.97, 0.04]], [[3424.99, 3.1], [3425.0, 7.0]]],
        [1721347200111, "diff", [[3424.98, 0.0], [3424.96, 2.25]], []],
        [1721347200111, "diff", [], [[3424.99, 0.0], [3425.01, 0.5]]]])),
    # Bybit trades: seconds with a fraction rounded up to the millisecond on the digits;
    # the taker's side; candles at the minute's last millisecond
    ("bybit", ["ETHUSDT2024-07-19.csv"], {}, dataset(
        candles=[[1721347259999, 3424.98, 3424.99, 3424.98, 3424.99, 1.75],
                 [1721347319999, 3424.5, 3425.0, 3424.5, 3425.0, 2.01]],
        trades=[[1721347200124, 3424.99, 0.5, "buy"], [1721347200123, 3424.98, 1.25, "sell"],
                [1721347260000, 3424.5, 0.01, "sell"], [1721347260000, 3425.0, 2.0, "buy"]])),
    ("bybit", ["BTCUSDT_2025-05-19.csv"], {"candles": "none"}, dataset(trades=[
        [1747612800074, 106453.8, 0.003718, "sell"], [1747612800150, 106456.9, 0.0005, "buy"]])),
]


@pytest.mark.parametrize("fmt, names, options, expected", CASES,
                         ids=[f"{c[0]}-{'+'.join(c[1])}" for c in CASES])
def test_converted_datasets(tmp_path, fmt, names, options, expected):
    got, _summary = convert(tmp_path, fmt, *names, **options)
    assert got == expected


SKIPS = [
    (FUTURES, {"trade messages (the recording's aggTrade messages are the trades)": 1,
               "depth updates older than the snapshot": 2, "messages of no known kind": 1,
               "bookTicker messages (no series of the dataset)": 1},
     ["line 10, 2024-07-19 00:00:00.070: pu 13 does not follow the previous update's u 12; "
      "the book starts again at the next snapshot"]),
    (SPOT, {"depth updates older than the snapshot": 1, "depth updates applied already": 1,
            "depth updates after a gap in the update chain, before the next snapshot": 1},
     ["line 7, 2024-07-19 00:00:00.040: U 107 does not follow the previous update's u 105 + 1; "
      "the book starts again at the next snapshot"]),
    (OB, {"order-book deltas before the first snapshot": 1}, []),
]


@pytest.mark.parametrize("name, skipped, gaps", SKIPS, ids=[s[0] for s in SKIPS])
def test_summary_counts_skips_and_reports_gaps(tmp_path, name, skipped, gaps):
    _got, summary = convert(tmp_path, "bybit" if name == OB else "binance-stream", name)
    assert summary.skipped == skipped
    assert summary.gaps == [f"{fixture(name)}: {gap}" for gap in gaps]
    if gaps:
        assert f"gaps in the book's update chain: 1\n  {fixture(name)}: {gaps[0]}" in summary.text()


# (market, snapshot lastUpdateId, updates as (U, u, pu), verdicts)
CHAIN = [
    ("futures: u equal to lastUpdateId is not older", 10, [(5, 10, 4), (11, 12, 10)],
     [APPLY, APPLY]),
    ("futures: pu, not U, must follow on", 10, [(8, 11, 7), (20, 25, 11)], [APPLY, APPLY]),
    ("futures: a pu that does not follow is a gap", 10, [(8, 11, 7), (12, 13, 12), (14, 15, 13)],
     [APPLY, "gap", "depth updates after a gap in the update chain, before the next snapshot"]),
    ("futures: the first update must straddle", 10, [(12, 14, 11)], ["gap"]),
    ("spot: u equal to lastUpdateId is older", 10, [(5, 10, None), (11, 12, None)],
     ["depth updates older than the snapshot", APPLY]),
    ("spot: U must be the previous u + 1", 10, [(9, 12, None), (13, 14, None), (16, 17, None)],
     [APPLY, APPLY, "gap"]),
    ("spot: an update applied already is dropped", 10, [(11, 12, None), (11, 12, None), (13, 13, None)],
     [APPLY, "depth updates applied already", APPLY]),
    ("spot: the first update must hold lastUpdateId + 1", 10, [(12, 14, None)], ["gap"]),
]


@pytest.mark.parametrize("snapshot, updates, verdicts", [c[1:] for c in CHAIN], ids=[c[0] for c in CHAIN])
def test_update_chain_rules(snapshot, updates, verdicts):
    chain = UpdateChain()
    assert chain.update(1, 2, None).action == "depth updates before the first snapshot"
    assert chain.snapshot(snapshot).action == APPLY
    got = [chain.update(*u) for u in updates]
    assert ["gap" if v.gap else v.action for v in got] == verdicts
    if "gap" in verdicts:
        assert chain.snapshot(100).action == APPLY   # the book starts again
    else:
        assert chain.snapshot(100).action == "depth snapshots while the book was in step"


def _bare(text):
    """A recorded line without its receive time and combined-stream wrapper."""
    body = text.split(" ", 1)[1] if text[:1].isdigit() else text
    return json.dumps(json.loads(body)["data"], separators=(",", ":")) if body.startswith('{"stream"') else body


def test_receive_times_and_wrappers_are_optional(tmp_path):
    plain = write(tmp_path, "bare.txt", [_bare(t) for t in lines(FUTURES)])
    assert convert(tmp_path, "binance-stream", plain)[0] == convert(tmp_path, "binance-stream", FUTURES)[0]


@pytest.mark.parametrize("fmt, name", [("binance-stream", FUTURES), ("binance-stream", SPOT),
                                       ("binance-stream", RECORDED), ("bybit", OB)])
def test_chunks_of_one_line_give_the_same_bytes(tmp_path, monkeypatch, fmt, name):
    """Updates waiting for a snapshot, a snapshot waiting for its time and the running
    time carried over every chunk edge."""
    texts = []
    for size in (1 << 20, 16):
        monkeypatch.setattr(opening, "CHUNK_BYTES", size)
        convert(tmp_path, fmt, name)
        texts.append((tmp_path / "out.json").read_bytes())
    assert texts[0] == texts[1]


def test_zipped_and_gzipped_files_give_the_same_dataset(tmp_path):
    packed = tmp_path / (OB + ".zip")
    with zipfile.ZipFile(packed, "w", zipfile.ZIP_DEFLATED) as out:
        out.write(fixture(OB), OB)
    assert convert(tmp_path, "bybit", str(packed))[0] == convert(tmp_path, "bybit", OB)[0]
    trades = write(tmp_path, "ETHUSDT2024-07-19.csv.gz", lines("ETHUSDT2024-07-19.csv"))
    assert convert(tmp_path, "bybit", trades)[0] == convert(tmp_path, "bybit", "ETHUSDT2024-07-19.csv")[0]
    futures = write(tmp_path, "stream.gz", lines(FUTURES))
    assert convert(tmp_path, "binance-stream", futures)[0] == convert(tmp_path, "binance-stream", FUTURES)[0]


def test_symbol_picks_one_instrument_of_a_recording(tmp_path):
    texts = lines(FUTURES)
    texts.insert(8, texts[2].replace("ETHUSDT", "BTCUSDT").replace("ethusdt", "btcusdt"))
    mixed = write(tmp_path, "mixed.txt", texts)
    with pytest.raises(sources.SourceError, match=r"mixed.txt: line 9: a second instrument "
                                                  r"'BTCUSDT' after 'ETHUSDT': choose one with --symbol"):
        convert(tmp_path, "binance-stream", mixed)
    got, summary = convert(tmp_path, "binance-stream", mixed, symbol="ethusdt", candles="none")
    assert got == CASES[0][3]
    assert summary.skipped["rows of other instruments"] == 1


def test_the_files_of_a_recording_go_on_one_from_the_next(tmp_path):
    recorded = lines(RECORDED)
    first = write(tmp_path, "part1.gz", recorded[:20])     # ends before the snapshot
    second = write(tmp_path, "part2.gz", recorded[20:])
    whole, _ = convert(tmp_path, "binance-stream", RECORDED)
    assert convert(tmp_path, "binance-stream", first, second)[0] == whole


def test_a_lost_update_in_a_recording_is_a_gap_until_the_next_snapshot(tmp_path):
    recorded = lines(RECORDED)
    depth = [i for i, t in enumerate(recorded) if "depthUpdate" in t]
    lost = depth[20]
    got, summary = convert(tmp_path, "binance-stream",
                           write(tmp_path, "lost.gz", recorded[:lost] + recorded[lost + 1:]))
    whole, _ = convert(tmp_path, "binance-stream", RECORDED)
    assert len(summary.gaps) == 1 and f": line {lost + 1}, " in summary.gaps[0]
    assert "does not follow the previous update's u" in summary.gaps[0]
    # no snapshot follows: the book keeps what came before the gap, the rest is counted
    kept = len(got["book"])
    assert got["book"] == whole["book"][:kept] and kept < len(whole["book"]) - 1
    assert summary.skipped[
        "depth updates after a gap in the update chain, before the next snapshot"] == len(whole["book"]) - 1 - kept
    assert got["trades"] == whole["trades"]


def test_waiting_updates_are_bounded(tmp_path, monkeypatch):
    """At the end of a chunk (here every line) only the last WAITING updates wait on."""
    monkeypatch.setattr(binance_stream, "WAITING", 1)
    monkeypatch.setattr(opening, "CHUNK_BYTES", 16)
    # plain text: reads of 16 bytes (an inflated read gives at least what was asked, often more)
    plain = write(tmp_path, "recorded.txt", lines(RECORDED))
    got, summary = convert(tmp_path, "binance-stream", plain)
    # seven updates came before the snapshot; only the last waited, and it does not straddle
    assert summary.skipped["depth updates before the first snapshot"] == 6
    assert len(summary.gaps) == 1 and "starts at U 4984028387167, after it" in summary.gaps[0]
    assert [e[1] for e in got["book"]] == ["snapshot"]


def test_a_recorded_stream_converts_loads_and_frames(tmp_path):
    got, summary = convert(tmp_path, "binance-stream", RECORDED)
    assert {k: v.count for k, v in summary.series.items() if v.count} == {"candles": 1, "trades": 34, "book": 51}
    assert summary.skipped == {"depth updates older than the snapshot": 5,
                               "bookTicker messages (no series of the dataset)": 210}
    snapshot = got["book"][0]
    assert snapshot[:2] == [1721347022785, "snapshot"] and len(snapshot[2]) == len(snapshot[3]) == 1000
    assert snapshot[2][0] == [3424.98, 207.725]
    assert [e[1] for e in got["book"][1:]] == ["diff"] * 50
    assert got["book"][1][0] == 1721347022785   # applied after the snapshot, lifted to its time
    stamps = [e[0] for e in got["book"]]
    assert stamps == sorted(stamps)
    spec = {"dataset_ref": "recorded", "symbol": "ETHUSDT", "panels": [
        {"kind": "footprint", "price_bin": 0.5, "bucket_ms": 1000},
        {"kind": "book_heatmap", "price_bin": 0.01, "bucket_ms": 1000, "depth_levels": 6}]}
    handle = Ovra(json.dumps(spec))
    text = (tmp_path / "out.json").read_text()
    assert json.loads(handle.command('{"cmd":"load","dataset":' + text + "}")) == {"ok": True, "loaded": 86}
    assert handle.command('{"cmd":"frame_at","ts":1721347025000}') == (
        '{"symbol":"ETHUSDT","cursor_ts":1721347025000,"panels":['
        '{"kind":"footprint","price_bins":[3424.5],"buy_vol":[0.037],"sell_vol":[4.361]},'
        '{"kind":"book_heatmap","time":[1721347022000,1721347023000,1721347024000],'
        '"price":[3424.95,3424.96,3424.97,3424.98,3424.99,3425.0],"intensity":['
        '[0.74,0.006,0.724,207.725,1.524,-0.0],[0.74,1.303,0.724,209.233,8.548,-0.0],'
        '[-0.0,1.303,0.724,205.956,9.212,-0.0]]}]}')


@pytest.mark.parametrize("text, ms", [
    ("1721347200", 1721347200000), ("1721347200.123", 1721347200123),
    ("1721347200.1231", 1721347200124), ("1721347200.0001", 1721347200001),
    ("1721347200.999", 1721347200999), ("1721347200.9990001", 1721347201000),
    ("1721347200.100000000000000000009", 1721347200100),   # digits past 10^-18 s are cut
])
def test_bybit_seconds_become_milliseconds_exactly(text, ms):
    assert pl.select(milliseconds_of_seconds(pl.lit(text))).item() == ms


# -- bad input ------------------------------------------------------------------------------

def _edit(name, number, old, new):
    def make(tmp_path):
        texts = lines(name)
        assert old in texts[number - 1]
        texts[number - 1] = texts[number - 1].replace(old, new, 1)
        return write(tmp_path, name, texts)
    return make


def _truncated(name):
    def make(tmp_path):
        with open(fixture(name), "rb") as f:
            data = f.read()
        path = tmp_path / name
        path.write_bytes(data[: len(data) * 2 // 3])
        return str(path)
    return make


def _truncated_zip(tmp_path):
    path = tmp_path / (OB + ".zip")
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as out:
        out.write(fixture(OB), OB)
    data = path.read_bytes()
    path.write_bytes(data[: len(data) // 2])
    return str(path)


BAD = [
    ("broken-json", "binance-stream", _edit(FUTURES, 4, '"pu":5,', '"pu":5'), 'line 4: not valid JSON'),
    ("not-json", "binance-stream", _edit(FUTURES, 2, '1721347200001000000 {', 'hello {'),
     "line 2: not a JSON message"),
    ("missing-field", "binance-stream", _edit(FUTURES, 7, '"u":12,', ''),
     "line 7: the depthUpdate message has no u"),
    ("id-not-an-integer", "binance-stream", _edit(FUTURES, 4, '"U":6,', '"U":6.5,'),
     'line 4: U is not an integer: "6.5"'),
    ("level-not-a-number", "binance-stream", _edit(FUTURES, 4, '"3424.10"', '"abc"'),
     'line 4: b holds a level that is not a price and a size: "[\\"abc\\", \\"2.000\\"]"'),
    ("levels-not-a-list", "binance-stream", _edit(FUTURES, 7, '"b":[]', '"b":"none"'),
     'line 7: b holds a level that is not a price and a size: "[\\"none\\"]"'),
    ("id-not-a-value", "binance-stream", _edit(FUTURES, 7, '"u":12,', '"u":[12],'),
     'line 7: u is not a single value: "[12]"'),
    ("snapshot-level", "binance-stream", _edit(FUTURES, 5, '["3424.00","4.000"]', '["3424.00"]'),
     'line 5: bids holds a level that is not a price and a size: "[\\"3424.00\\"]"'),
    ("price-not-a-number", "binance-stream", _edit(FUTURES, 3, '"p":"3424.50"', '"p":"x"'),
     'line 3: p is not a number: "x"'),
    ("maker-flag", "binance-stream", _edit(SPOT, 4, '"m":false', '"m":"maybe"'),
     'line 4: m is "maybe", expected "true" or "false"'),
    ("liquidation-side", "binance-stream", _edit(FUTURES, 15, '"S":"SELL"', '"S":"LONG"'),
     'line 15: o.S is "LONG", expected "BUY" or "SELL"'),
    ("truncated-gzip", "binance-stream", _truncated(RECORDED), "the gzip stream is damaged or truncated"),
    ("bybit-type", "bybit", _edit(OB, 3, '"type":"delta"', '"type":"update"'),
     'line 3: type is "update", expected "snapshot" or "delta"'),
    ("bybit-size", "bybit", _edit(OB, 3, '"2.250"', '"2,25"'),
     'line 3: bids holds a level that is not a price and a size'),
    ("bybit-missing-data", "bybit", _edit(OB, 5, '"a":[["3424.99","0"],["3425.01","0.500"]],', ''),
     "line 5: the order-book message has no data.a"),
    ("bybit-side", "bybit", _edit("ETHUSDT2024-07-19.csv", 3, ",Sell,", ",Up,"),
     'line 3: side is "Up", expected "Buy" or "Sell"'),
    ("bybit-seconds", "bybit", _edit("ETHUSDT2024-07-19.csv", 2, "1721347200.1234", "1721347200,1234"),
     "line 2: expected 10 columns, found 11"),
    ("bybit-time", "bybit", _edit("ETHUSDT2024-07-19.csv", 4, "1721347259.9999", "soon"),
     "line 4: timestamp is not seconds like 1721347200.1234: 'soon'"),
    ("bybit-truncated-zip", "bybit", _truncated_zip, "not a readable zip archive"),
]


@pytest.mark.parametrize("fmt, make, what", [b[1:] for b in BAD], ids=[b[0] for b in BAD])
def test_bad_input_is_one_line_exit_one_and_no_output(tmp_path, capsys, fmt, make, what):
    path = make(tmp_path)
    out = tmp_path / "result" / "out.json"
    out.parent.mkdir()
    status = cli.main(["convert", fmt, path, "-o", str(out)])
    _stdout, err = capsys.readouterr()
    assert status == 1
    assert err.startswith(f"tavrin-ovra: error: {path}") and err.count("\n") == 1
    assert what in err
    assert os.listdir(out.parent) == []


def test_the_first_bad_line_is_reported_whatever_its_kind(tmp_path):
    texts = lines(FUTURES)
    texts[5] = texts[5].replace('"p":"3424.60"', '"p":"x"')      # a trade on line 6
    texts[3] = texts[3].replace('"u":10,', '')                    # a depth update on line 4
    texts[14] = texts[14].replace('"S":"SELL"', '"S":"?"')        # a liquidation on line 15
    with pytest.raises(sources.SourceError, match=r"line 4: the depthUpdate message has no u$"):
        convert(tmp_path, "binance-stream", write(tmp_path, "bad.txt", texts))
