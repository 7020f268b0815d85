"""The sample generator: reproducible, internally consistent, and loadable."""

import json
import math
from collections import defaultdict

import pytest

from tavrin_ovra import Ovra
from tavrin_ovra import sample

MINUTE = 60_000


@pytest.fixture(scope="module")
def records():
    """Twelve minutes: long enough for a liquidation burst with the default seed."""
    return sample.generate_sample(minutes=12)


def test_same_arguments_same_text():
    assert sample.sample_dataset(minutes=1, seed=3) == sample.sample_dataset(minutes=1, seed=3)


@pytest.mark.parametrize("other", [dict(seed=4), dict(book_depth=50), dict(minutes=1.5)],
                         ids=["seed", "depth", "duration"])
def test_each_parameter_changes_the_data(other):
    base = dict(minutes=1, seed=3, book_depth=300)
    assert sample.sample_dataset(**base) != sample.sample_dataset(**{**base, **other})


@pytest.mark.parametrize("kwargs", [dict(minutes=0), dict(minutes=-1), dict(minutes=math.nan),
                                    dict(minutes=math.inf), dict(book_depth=0)],
                         ids=["zero", "negative", "nan", "infinite", "no-depth"])
def test_bad_parameters_are_refused(kwargs):
    with pytest.raises(ValueError):
        sample.generate_sample(**kwargs)


def test_every_series_is_in_time_order(records):
    for name, rows in records.items():
        stamps = [row[0] for row in rows]
        assert stamps == sorted(stamps), name


def test_series_cover_the_duration(records):
    start = sample.DEFAULT_START_TS
    assert [c[0] for c in records["candles"]] == [start + i * MINUTE for i in range(12)]
    assert [f[0] for f in records["funding"]] == [start + i * MINUTE for i in range(12)]
    assert [o[0] for o in records["oi"]] == [start + i * 10_000 for i in range(72)]


def test_book_is_one_snapshot_then_diffs_every_100_ms(records):
    book = records["book"]
    assert book[0][1] == "snapshot"
    assert len(book[0][2]) == len(book[0][3]) == 300
    assert {event[1] for event in book[1:]} == {"diff"}
    assert [e[0] - book[0][0] for e in book] == [100 * i for i in range(len(book))]


def test_replayed_book_stays_deep_and_uncrossed():
    bids, asks = {}, {}
    for ts, kind, bid_levels, ask_levels in sample.generate_sample(minutes=3)["book"]:
        if kind == "snapshot":
            bids.clear()
            asks.clear()
        for side, levels in ((bids, bid_levels), (asks, ask_levels)):
            for price, qty in levels:
                if qty == 0:
                    side.pop(price, None)
                else:
                    side[price] = qty
        assert max(bids) < min(asks), ts
        assert 250 <= len(bids) <= 330 and 250 <= len(asks) <= 330, ts


def test_candles_are_built_from_the_trades(records):
    by_minute = defaultdict(list)
    for ts, price, qty, _side in records["trades"]:
        by_minute[ts - (ts - sample.DEFAULT_START_TS) % MINUTE].append((price, qty))
    for ts, open_, high, low, close, volume in records["candles"]:
        trades = by_minute[ts]
        prices = [p for p, _ in trades]
        assert (open_, high, low, close) == (prices[0], max(prices), min(prices), prices[-1])
        assert volume == round(sum(q for _, q in trades), 3)


def test_trades_on_both_sides(records):
    sides = [t[3] for t in records["trades"]]
    assert 0.35 < sides.count("buy") / len(sides) < 0.65


def test_liquidations_come_in_bursts_and_print_as_trades(records):
    liquidations = records["liquidations"]
    stamps = [row[0] for row in liquidations]
    assert any(b - a <= 10_000 for a, b in zip(stamps, stamps[10:])), "no burst"
    trades = {(ts, price, qty, side) for ts, price, qty, side in records["trades"]}
    forced = {"long": "sell", "short": "buy"}
    for ts, price, qty, side in liquidations:
        assert (ts, price, qty, forced[side]) in trades


def test_sample_loads_and_frames_every_panel(records):
    handle = Ovra("")
    assert handle.command('{"cmd":"set_spec","spec":' + sample.sample_spec() + "}") == (
        '{"ok":true}')
    text = json.dumps(records, separators=(",", ":"))
    count = sum(len(rows) for rows in records.values())
    assert handle.command('{"cmd":"load","dataset":' + text + "}") == (
        '{"ok":true,"loaded":%d}' % count)
    frame = json.loads(handle.command('{"cmd":"frame"}'))
    assert frame["cursor_ts"] == max(rows[-1][0] for rows in records.values())
    footprint, heatmap, liquidations, funding = frame["panels"]
    assert footprint["price_bins"] and sum(footprint["buy_vol"]) > 0
    assert len(heatmap["intensity"]) == 24 and len(heatmap["price"]) == 80
    assert len(liquidations["events"]) == len(records["liquidations"])
    assert len(funding["time"]) == 12 and 0 not in funding["price"]


def test_write_sample_writes_the_text(tmp_path):
    path = tmp_path / "sample.json"
    size = sample.write_sample(path, minutes=0.5, seed=9, book_depth=20)
    assert path.read_bytes() == sample.sample_dataset(0.5, 9, 20).encode()
    assert size == path.stat().st_size


# -- the dense preset ------------------------------------------------------------------------

TICKS = 100  # the dense sample's 0.01 tick


@pytest.fixture(scope="module")
def dense_text():
    pytest.importorskip("numpy")
    return sample.sample_dataset(minutes=2, seed=11, preset="dense")


@pytest.fixture(scope="module")
def dense(dense_text):
    return json.loads(dense_text)


def test_dense_same_seed_same_text(dense_text):
    assert sample.sample_dataset(minutes=2, seed=11, preset="dense") == dense_text
    assert sample.sample_dataset(minutes=2, seed=12, preset="dense") != dense_text


def test_dense_write_streams_the_same_text(dense_text, tmp_path):
    path = tmp_path / "dense.json"
    size = sample.write_sample(path, minutes=2, seed=11, preset="dense")
    assert path.read_text() == dense_text and size == len(dense_text)


@pytest.mark.parametrize("kwargs", [dict(preset="thick"), dict(preset="dense", minutes=0),
                                    dict(preset="dense", book_depth=0)],
                         ids=["unknown-preset", "no-time", "no-depth"])
def test_dense_bad_parameters_are_refused(kwargs):
    with pytest.raises(ValueError):
        sample.generate_sample(**{"minutes": 1, **kwargs})


def replay(book):
    """Best prices and side sizes after every event, and counts of the kinds of change."""
    bids, asks, removed = {}, {}, set()
    counts = dict(changes=0, removes=0, readds=0, near=0)
    after = []
    for _ts, kind, bid_levels, ask_levels in book:
        if kind == "snapshot":
            bids = {round(p * TICKS): q for p, q in bid_levels}
            asks = {round(p * TICKS): q for p, q in ask_levels}
        else:
            tops = (max(bids), min(asks))
            for side, levels, top, sign in ((bids, bid_levels, tops[0], 1),
                                            (asks, ask_levels, tops[1], -1)):
                for price, qty in levels:
                    tick = round(price * TICKS)
                    counts["changes"] += 1
                    counts["near"] += 0 <= (top - tick) * sign < 1000
                    if qty == 0:
                        counts["removes"] += side.pop(tick, None) is not None
                        removed.add((sign, tick))
                    else:
                        counts["readds"] += tick not in side and (sign, tick) in removed
                        side[tick] = qty
        after.append((max(bids), min(asks), len(bids), len(asks)))
    return after, counts


def test_dense_book_is_deep_uncrossed_and_busy(dense):
    book = dense["book"]
    assert book[0][1] == "snapshot" and {e[1] for e in book[1:]} == {"diff"}
    after, counts = replay(book)
    assert all(bid < ask for bid, ask, _, _ in after)
    assert all(4300 <= b <= 4900 and 4300 <= a <= 4900 for _, _, b, a in after)
    seconds = (book[-1][0] - book[0][0]) / 1000
    gaps = sorted(b[0] - a[0] for a, b in zip(book, book[1:]))
    assert 50 <= gaps[len(gaps) // 2] <= 58
    assert 600 < counts["changes"] / seconds < 900
    assert 0.6 < counts["near"] / counts["changes"] < 0.9  # most near the top, not all
    assert 0.05 < counts["removes"] / counts["changes"] < 0.2
    assert counts["readds"] > 0.03 * counts["changes"]


def test_dense_trades_and_slow_series(dense):
    seconds = 120
    trades = dense["trades"]
    assert 18 < len(trades) / seconds < 40
    assert [t[0] for t in trades] == sorted(t[0] for t in trades)
    assert {t[3] for t in trades} == {"buy", "sell"}
    start = sample.DEFAULT_START_TS
    assert [c[0] for c in dense["candles"]] == [start, start + MINUTE]
    assert [o[0] for o in dense["oi"]] == [start + i * 10_000 for i in range(12)]
    assert [f[0] for f in dense["funding"]] == [start, start + MINUTE]
    for ts, open_, high, low, close, volume in dense["candles"]:
        prices = [t[1] for t in trades if ts <= t[0] < ts + MINUTE]
        assert (open_, high, low, close) == (prices[0], max(prices), min(prices), prices[-1])


def test_dense_sample_loads_and_frames(dense_text, dense):
    handle = Ovra(sample.sample_spec(preset="dense"))
    count = sum(len(rows) for rows in dense.values())
    assert handle.command('{"cmd":"load","dataset":' + dense_text + "}") == (
        '{"ok":true,"loaded":%d}' % count)
    frame = json.loads(handle.command('{"cmd":"frame"}'))
    footprint, heatmap, _liquidations, funding = frame["panels"]
    assert sum(footprint["buy_vol"]) > 0 and sum(footprint["sell_vol"]) > 0
    assert len(heatmap["intensity"]) == 4 and len(heatmap["price"]) == 80
    assert min(heatmap["intensity"][-1]) > 0  # every band near the mid holds orders
    assert len(funding["time"]) == 2
