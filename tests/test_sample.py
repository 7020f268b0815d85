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
