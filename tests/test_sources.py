"""Converting exchange files into datasets: each format and file kind, compression, the
side and time conventions, candles, and every bad input (one line, exit 1, no output)."""

import gzip
import json
import os
import shutil
import zipfile

import pytest

pytest.importorskip("polars", reason="the converters need polars (pip install \"tavrin_ovra[sources]\")")

from tavrin_ovra import Ovra, cli, sources  # noqa: E402
from tavrin_ovra.sources import opening  # noqa: E402

FIXTURES = os.path.join(os.path.dirname(__file__), "fixtures", "sources")
EMPTY = {"candles": [], "trades": [], "book": [], "funding": [], "oi": [], "liquidations": []}


def fixture(name):
    return os.path.join(FIXTURES, name)


def convert(tmp_path, fmt, *names, **options):
    out = tmp_path / "out.json"
    summary = sources.convert(fmt, [n if os.path.isabs(n) else fixture(n) for n in names],
                              str(out), **options)
    return json.loads(out.read_text()), summary


def _text(name):
    with open(fixture(name)) as f:
        return f.read()


def dataset(**series):
    return dict(EMPTY, **series)


CASES = [
    # Tardis incremental_book_L2: the row before the first snapshot is skipped; the snapshot
    # run is one event although its local_timestamp changes; the rows of one message are one
    # diff; microseconds round up; the last diff's earlier exchange time is lifted to the
    # running maximum so that no sort reorders the book's changes
    ("tardis", ["tardis_incremental_book_L2.csv"], {}, dataset(book=[
        [1721347200000, "snapshot", [[3424.98, 1.5]], [[3425.1, 2.0], [3425.2, 2.0]]],
        [1721347200002, "diff", [[3424.98, 0.0]], [[3425.3, 0.001]]],
        [1721347200002, "diff", [], [[3425.3, 0.002]]]])),
    # Tardis trades: the aggressor's side; "unknown" is skipped; candles at minute ends
    ("tardis", ["tardis_trades.csv"], {"candles": "none"}, dataset(trades=[
        [1721347200001, 3424.98, 0.5, "buy"], [1721347259999, 3425.1, 0.25, "sell"],
        [1721347260000, 3426.0, 2.0, "sell"]])),
    ("tardis", ["tardis_trades.csv"], {}, dataset(candles=[
        [1721347259999, 3424.98, 3425.1, 3424.98, 3425.1, 0.75],
        [1721347319999, 3426.0, 3426.0, 3426.0, 3426.0, 2.0]], trades=[
        [1721347200001, 3424.98, 0.5, "buy"], [1721347259999, 3425.1, 0.25, "sell"],
        [1721347260000, 3426.0, 2.0, "sell"]])),
    # Tardis liquidations: a sell forces a long out
    ("tardis", ["tardis_liquidations.csv"], {}, dataset(liquidations=[
        [1721347201000, 3400.5, 3.0, "long"], [1721347202000, 3450.0, 1.5, "short"]])),
    # derivative_ticker: a sample where the value is present and changed
    ("tardis", ["tardis_derivative_ticker.csv"], {}, dataset(
        funding=[[1721347200000, 0.0001], [1721347202000, 0.00012]],
        oi=[[1721347200000, 500000.5], [1721347202000, 500001.0]])),
    ("tardis", ["tardis_book_snapshot_5.csv"], {}, dataset(book=[
        [1721347200000, "snapshot", [[3425.0, 1.0]], [[3425.1, 2.0], [3425.2, 3.0]]]])),
    # Binance: headerless futures aggTrades (is_buyer_maker true: the aggressor sold)
    ("binance", ["ETHUSDT-aggTrades-2024-07-19.csv"], {"candles": "none"}, dataset(trades=[
        [1721347200000, 3424.98, 0.5, "sell"], [1721347260000, 3425.0, 1.25, "buy"]])),
    ("binance", ["ETHUSDT-trades-2024-07-19.csv"], {"candles": "none"}, dataset(trades=[
        [1721347200000, 3424.98, 0.5, "buy"]])),
    # a headerless spot file of 2025 in microseconds, rounded up to the millisecond
    ("binance", ["BTCUSDT-trades-2025-01-01.csv"], {"candles": "none"}, dataset(trades=[
        [1735689600001, 3424.98, 0.5, "sell"]])),
    # vendor klines are stamped at their close time; no candles are derived then
    ("binance", ["ETHUSDT-1m-2024-07-19.csv", "ETHUSDT-aggTrades-2024-07-19.csv"], {}, dataset(
        candles=[[1721347259999, 3424.98, 3430.0, 3420.0, 3425.5, 100.5]], trades=[
            [1721347200000, 3424.98, 0.5, "sell"], [1721347260000, 3425.0, 1.25, "buy"]])),
    ("binance", ["ETHUSDT-metrics-2024-07-19.csv", "ETHUSDT-fundingRate-2024-07.csv"], {},
     dataset(funding=[[1721347200000, 0.0001]], oi=[[1721347500000, 812345.123]])),
]


@pytest.mark.parametrize("fmt, names, options, expected", CASES,
                         ids=[f"{c[0]}-{'+'.join(c[1])}-{c[2]}" for c in CASES])
def test_converted_datasets(tmp_path, fmt, names, options, expected):
    got, _summary = convert(tmp_path, fmt, *names, **options)
    assert got == expected


def test_output_text_is_compact_and_floats_are_shortest(tmp_path):
    convert(tmp_path, "tardis", "tardis_incremental_book_L2.csv")
    text = (tmp_path / "out.json").read_text()
    assert text.startswith('{"candles":[],"trades":[],"book":[[1721347200000,"snapshot",'
                           '[[3424.98,1.5]],[[3425.1,2.0],[3425.2,2.0]]],')
    assert " " not in text


def _gzip(tmp_path, name):
    path = tmp_path / (name + ".gz")
    with open(fixture(name), "rb") as source, gzip.open(path, "wb") as out:
        out.write(source.read())
    return str(path)


def _zip(tmp_path, archive, *names):
    path = tmp_path / archive
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as out:
        for name in names:
            out.write(fixture(name), name)
    return str(path)


def test_gzip_and_zip_with_several_members_give_the_same_dataset(tmp_path):
    plain, _ = convert(tmp_path, "binance", "ETHUSDT-1m-2024-07-19.csv",
                       "ETHUSDT-aggTrades-2024-07-19.csv")
    zipped = _zip(tmp_path, "ETHUSDT-both.zip", "ETHUSDT-1m-2024-07-19.csv",
                  "ETHUSDT-aggTrades-2024-07-19.csv")
    assert convert(tmp_path, "binance", zipped)[0] == plain
    packed = _gzip(tmp_path, "tardis_trades.csv")
    assert convert(tmp_path, "tardis", packed)[0] == convert(tmp_path, "tardis", "tardis_trades.csv")[0]


def test_small_chunks_give_the_same_bytes(tmp_path, monkeypatch):
    """Events, held-back rows and candles across chunk edges: a chunk of a few lines must
    give the bytes of one chunk holding the whole file."""
    names = ["tardis_incremental_book_L2.csv", "tardis_trades.csv", "tardis_derivative_ticker.csv"]
    texts = []
    for size in (1 << 20, 100):
        monkeypatch.setattr(opening, "CHUNK_BYTES", size)
        for name in names:
            convert(tmp_path, "tardis", name)
            texts.append((tmp_path / "out.json").read_bytes())
    assert texts[:3] == texts[3:]


def test_summary_counts_series_and_skips(tmp_path):
    _got, summary = convert(tmp_path, "tardis", "tardis_trades.csv", "tardis_incremental_book_L2.csv")
    assert summary.skipped == {'trades with side "unknown"': 1, "book rows before the first snapshot": 1}
    assert {k: v.count for k, v in summary.series.items() if v.count} == {"candles": 2, "trades": 3, "book": 3}
    assert summary.instrument == "ETHUSDT"
    assert 'skipped:\n             1 trades with side "unknown"' in summary.text()


def test_symbol_picks_one_instrument(tmp_path):
    mixed = tmp_path / "mixed.csv"
    lines = _text("tardis_trades.csv").splitlines()
    mixed.write_text("\n".join(lines + [lines[1].replace("ETHUSDT", "BTCUSDT")]) + "\n")
    got, summary = convert(tmp_path, "tardis", str(mixed), symbol="btcusdt", candles="none")
    assert got["trades"] == [[1721347200001, 3424.98, 0.5, "buy"]]
    assert summary.skipped["rows of other instruments"] == 4
    with pytest.raises(sources.SourceError, match=r"mixed.csv: line 6: a second instrument "
                                                  r"'BTCUSDT' after 'ETHUSDT': choose one with --symbol"):
        convert(tmp_path, "tardis", str(mixed))


def test_candles_never_show_a_later_price(tmp_path):
    """A frame whose cursor lies inside a minute shows only the candles of minutes that are
    over: the price line holds no trade from after the cursor."""
    got, _ = convert(tmp_path, "tardis", "tardis_trades.csv")
    for candle in got["candles"]:
        minute = candle[0] - candle[0] % 60000
        in_minute = [t for t in got["trades"] if minute <= t[0] < minute + 60000]
        assert candle[0] >= max(t[0] for t in in_minute)
        assert candle[4] == in_minute[-1][1]


def test_a_converted_dataset_loads_and_frames(tmp_path):
    merged = [fixture(n) for n in ("tardis_trades.csv", "tardis_incremental_book_L2.csv",
                                   "tardis_liquidations.csv", "tardis_derivative_ticker.csv")]
    out = tmp_path / "all.json"
    sources.convert("tardis", merged, str(out))
    spec = {"dataset_ref": "converted", "symbol": "ETHUSDT", "panels": [
        {"kind": "footprint", "price_bin": 1.0, "bucket_ms": 60000},
        {"kind": "book_heatmap", "price_bin": 0.1, "bucket_ms": 1000, "depth_levels": 10},
        {"kind": "liquidation_map", "price_bin": 10.0},
        {"kind": "funding_oi_divergence", "bucket_ms": 60000}]}
    handle = Ovra(json.dumps(spec))
    text = out.read_text()
    assert json.loads(handle.command('{"cmd":"load","dataset":' + text + "}")) == {"ok": True, "loaded": 14}
    frame = json.loads(handle.command('{"cmd":"frame_at","ts":1721347259999}'))
    assert frame["cursor_ts"] == 1721347259999
    divergence = frame["panels"][3]
    assert divergence["kind"] == "funding_oi_divergence"
    assert divergence["price"][-1] == 3425.1   # the first minute's candle, closed at its end
    later = json.loads(handle.command('{"cmd":"frame_at","ts":1721347259998}'))["panels"][3]
    assert 3425.1 not in later["price"]


# -- bad input ------------------------------------------------------------------------------

def _bad_row(tmp_path, name, line_no, new_line):
    lines = _text(name).splitlines()
    lines[line_no - 1] = new_line
    path = tmp_path / name
    path.write_text("\n".join(lines) + "\n")
    return str(path)


def _truncated_gzip(tmp_path):
    packed = _gzip(tmp_path, "tardis_trades.csv")
    with open(packed, "rb") as f:
        data = f.read()
    with open(packed, "wb") as f:
        f.write(data[:-12])
    return packed


def _truncated_zip(tmp_path):
    packed = _zip(tmp_path, "ETHUSDT-aggTrades-2024-07-19.zip", "ETHUSDT-aggTrades-2024-07-19.csv")
    with open(packed, "rb") as f:
        data = f.read()
    with open(packed, "wb") as f:
        f.write(data[: len(data) // 2])
    return packed


ROW = "binance-futures,ETHUSDT,1721347260000000,1721347260100000,4,sell,3426.00,2"
BAD = [
    ("missing-column", lambda p: _bad_row(p, "tardis_trades.csv", 3, ROW.rsplit(",", 1)[0]),
     "tardis", "line 3: expected 8 columns, found 7"),
    ("price-not-a-number", lambda p: _bad_row(p, "tardis_trades.csv", 4, ROW.replace("3426.00", "abc")),
     "tardis", 'line 4: price is not a number: "abc"'),
    ("price-not-finite", lambda p: _bad_row(p, "tardis_trades.csv", 2, ROW.replace("3426.00", "inf")),
     "tardis", 'line 2: price is not a finite number: "inf"'),
    ("unknown-side", lambda p: _bad_row(p, "tardis_trades.csv", 5, ROW.replace("sell", "short")),
     "tardis", 'line 5: side is "short", expected "buy", "sell" or "unknown"'),
    ("book-side", lambda p: _bad_row(p, "tardis_incremental_book_L2.csv", 6,
                                     ROW.replace(",4,sell,", ",false,buy,")),
     "tardis", 'line 6: side is "buy", expected "bid" or "ask"'),
    ("time-not-an-integer", lambda p: _bad_row(p, "tardis_trades.csv", 2, ROW.replace("1721347260000000", "1.5")),
     "tardis", 'line 2: timestamp is not an integer: "1.5"'),
    ("empty-line", lambda p: _bad_row(p, "tardis_trades.csv", 3, ""),
     "tardis", "line 3: empty line"),
    ("binance-bool", lambda p: _bad_row(p, "ETHUSDT-aggTrades-2024-07-19.csv", 2,
                                        "2,3425.00,1.25,3,3,1721347260000,maybe"),
     "binance", 'line 2: is_buyer_maker is not true or false: "maybe"'),
    ("metrics-time", lambda p: _bad_row(p, "ETHUSDT-metrics-2024-07-19.csv", 2,
                                        "yesterday,ETHUSDT,1,1,1,1,1,1"),
     "binance", "line 2: create_time is not a date-time like 2024-07-18 00:05:00: 'yesterday'"),
    ("truncated-gzip", _truncated_gzip, "tardis", "line 1: the gzip stream is damaged or truncated"),
    ("truncated-zip", _truncated_zip, "binance", "not a readable zip archive"),
]


@pytest.mark.parametrize("make, fmt, what", [b[1:] for b in BAD], ids=[b[0] for b in BAD])
def test_bad_input_is_one_line_exit_one_and_no_output(tmp_path, capsys, make, fmt, what):
    path = make(tmp_path)
    out = tmp_path / "result" / "out.json"
    out.parent.mkdir()
    status = cli.main(["convert", fmt, path, "-o", str(out)])
    _stdout, err = capsys.readouterr()
    assert status == 1
    assert err.startswith(f"tavrin-ovra: error: {path}") and err.count("\n") == 1
    assert what in err
    assert os.listdir(out.parent) == []


def test_a_file_of_another_kind_is_refused(tmp_path):
    path = tmp_path / "quotes.csv"
    path.write_text("exchange,symbol,timestamp,local_timestamp,ask_amount,ask_price,bid_price,bid_amount\n")
    with pytest.raises(sources.SourceError, match="line 1: a Tardis file of a kind that holds none"):
        convert(tmp_path, "tardis", str(path))
