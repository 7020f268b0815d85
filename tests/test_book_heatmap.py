"""Book heatmap panel: resting quantity per time bucket and price level, the
grid limit and the 64-bit time edges, as frame texts."""

import json
import random

import pytest
from hypothesis import given
from hypothesis import strategies as st

import panel_models
import tavrin_ovra
from panel_frames import I64_MAX, I64_MIN, data_error, frame_text, framed, skip_unless_slow_selected
from panel_models import floats_text
from panel_strategies import PANEL_SETTINGS, by_time, price_bins, prices, quantities, timestamps

EMPTY = '{"kind":"book_heatmap","time":[],"price":[],"intensity":[]}'


def heatmap(price_bin=1.0, bucket_ms=60000, depth_levels=3):
    return {"kind": "book_heatmap", "price_bin": price_bin, "bucket_ms": bucket_ms, "depth_levels": depth_levels}


def panel(time, price, intensity):
    return '{"kind":"book_heatmap","time":%s,"price":%s,"intensity":%s}' % (time, price, intensity)


def snap(ts, bids, asks):
    return [ts, "snapshot", bids, asks]


def diff(ts, bids=(), asks=()):
    return [ts, "diff", list(bids), list(asks)]


@pytest.mark.parametrize(
    "events",
    [
        pytest.param([], id="no-events"),
        pytest.param([snap(1, [[1.0, 1.0]], [[2.0, 1.0]]), snap(2, [[1.0, 1.0]], [])], id="snapshot-of-bids-clears-asks"),
        pytest.param([snap(1, [[1.0, 1.0]], [[2.0, 1.0]]), diff(2, bids=[[1.0, 0.0]])], id="last-bid-removed"),
        pytest.param([diff(1, asks=[[2.0, 1.0]])], id="asks-only"),
    ],
)
def test_empty_forms(events):
    assert frame_text(heatmap(), {"book": events}) == framed(EMPTY)


def test_forty_levels_around_the_mid():
    events = [snap(90000, [[100.2, 1.5]], [[100.4, 2.25]])]
    ladder = floats_text([90.0 + 0.5 * i for i in range(40)])
    row = ["-0.0"] * 40
    row[20] = "3.75"  # the level 100.0 covers [100.0, 100.5)
    expected = panel("[60000]", ladder, "[[" + ",".join(row) + "]]")
    assert frame_text(heatmap(0.5, 60000, 40), {"book": events}) == framed(expected)


@pytest.mark.parametrize(
    "depth, ladder, row",
    [
        pytest.param(1, "[100.0]", "[-0.0]", id="one-level-is-the-centre"),
        pytest.param(2, "[99.0,100.0]", "[1.0,-0.0]", id="even-depth-extra-level-below"),
        pytest.param(3, "[99.0,100.0,101.0]", "[1.0,-0.0,1.0]", id="three-levels"),
    ],
)
def test_ladder(depth, ladder, row):
    events = [snap(0, [[99.5, 1.0]], [[101.0, 1.0]])]
    assert frame_text(heatmap(1.0, 60000, depth), {"book": events}) == framed(panel("[0]", ladder, "[" + row + "]"))


@pytest.mark.parametrize(
    "events, bucket_ms, expected",
    [
        pytest.param(
            [snap(90000, [[100.2, 1.0]], [[100.4, 1.0]]), diff(250000, bids=[[100.2, 2.0]])], 60000,
            panel("[60000,120000,180000,240000]", "[100.0]", "[[2.0],[2.0],[2.0],[3.0]]"),
            id="quiet-buckets-kept",
        ),
        pytest.param(
            [snap(-1, [[100.2, 1.0]], [[100.4, 1.0]]), diff(0, asks=[[100.4, 4.0]])], 60000,
            panel("[-60000,0]", "[100.0]", "[[2.0],[5.0]]"), id="floor-divided-starts",
        ),
        pytest.param(
            [snap(0, [[100.2, 1.0]], [[100.4, 1.0]]), diff(10, bids=[[100.2, 0.0]]), diff(20, bids=[[100.2, 3.0]]),
             diff(20, bids=[[100.2, 3.0]])], 10,
            panel("[0,10,20]", "[100.0]", "[[2.0],[1.0],[4.0]]"), id="zero-removes-later-replaces",
        ),
        pytest.param(
            [diff(5, bids=[[100.2, 1.0]]), diff(5, asks=[[100.4, 1.0]])], 10,
            panel("[0]", "[100.0]", "[[2.0]]"), id="diffs-without-snapshot",
        ),
        pytest.param(
            [snap(119999, [[100.2, 1.0]], [[100.4, 1.0]]), diff(120000, asks=[[100.4, 7.0]])], 60000,
            panel("[60000,120000]", "[100.0]", "[[2.0],[8.0]]"), id="bucket-end-exclusive",
        ),
    ],
)
def test_replay_by_bucket(events, bucket_ms, expected):
    assert frame_text(heatmap(0.5, bucket_ms, 1), {"book": events}) == framed(expected)


@pytest.mark.parametrize(
    "from_ts, row",
    [
        pytest.param(None, "[-0.0,1.0,6.0]", id="whole-history"),
        pytest.param(5, "[-0.0,1.0,1.0]", id="snapshot-before-from-ts-not-replayed"),
    ],
)
def test_replay_starts_at_the_window(from_ts, row):
    events = [snap(0, [[1.0, 5.0]], [[2.0, 5.0]]), diff(10, bids=[[1.0, 1.0]], asks=[[2.5, 1.0]])]
    text = frame_text(heatmap(1.0, 60000, 3), {"book": events}, from_ts=from_ts)
    assert text == framed(panel("[0]", "[0.0,1.0,2.0]", "[" + row + "]"))


@pytest.mark.parametrize(
    "bids, asks, price_bin, depth, expected",
    [
        pytest.param([[1.5, 1.0], [2.0, 10.0]], [[3.0, 100.0]], 1.0, 3,
                     panel("[0]", "[1.0,2.0,3.0]", "[[1.0,10.0,100.0]]"), id="upper-edge-in-next-level"),
        pytest.param([[1.0, -4.0]], [[1.5, 1.0]], 1.0, 1, panel("[0]", "[1.0]", "[[-3.0]]"), id="negative-quantity"),
        pytest.param([[-0.0, 1.0], [0.0, 2.0], [0.0, 0.0]], [[1.0, 4.0]], 1.0, 1,
                     panel("[0]", "[0.0]", "[[1.0]]"), id="zero-and-negative-zero-are-two-prices"),
        pytest.param([[1.0, 0.1], [1.25, 0.2]], [[1.5, 0.000000004]], 1.0, 1,
                     panel("[0]", "[1.0]", "[[0.3]]"), id="cell-rounded"),
        pytest.param([[1e305, 1.0]], [[1e305, 1.0]], 1.0, 3,
                     panel("[0]", "[null,null,null]", "[[-0.0,-0.0,-0.0]]"), id="overflowing-centre"),
        pytest.param([[1.0, 1.7e308], [1.25, 1.7e308]], [[1.5, -1.7e308], [1.75, -1.7e308]], 1.0, 1,
                     panel("[0]", "[1.0]", "[[null]]"), id="infinite-sums-cancel-to-nan"),
        pytest.param([[-2.5, 1.0]], [[-1.5, 2.0]], 1.0, 2, panel("[0]", "[-3.0,-2.0]", "[[1.0,2.0]]"),
                     id="negative-prices"),
        pytest.param([[-1.0, 1.0]], [[0.5, 1.0]], 1.7e308, 5,
                     panel("[0]", "[null,null,null,null,null]", "[[-0.0,-0.0,-0.0,-0.0,-0.0]]"),
                     id="infinite-centre-and-nan-level"),
    ],
)
def test_bands(bids, asks, price_bin, depth, expected):
    events = [snap(0, bids, asks)]
    assert frame_text(heatmap(price_bin, 60000, depth), {"book": events}) == framed(expected)


BOOK = ([[1.0, 1.0]], [[2.0, 1.0]])


@pytest.mark.parametrize(
    "stamps, bucket_ms, depth, message",
    [
        pytest.param([0, 10_000_000], 1, 1, "book_heatmap grid too large: 10000001 buckets x 1 levels", id="buckets"),
        pytest.param([0], 1, 10_000_001, "book_heatmap grid too large: 1 buckets x 10000001 levels", id="levels"),
        pytest.param([0, 1], 1, 5_000_001, "book_heatmap grid too large: 2 buckets x 5000001 levels", id="cells"),
        pytest.param([I64_MIN, I64_MAX], 1, 4294967295,
                     "book_heatmap grid too large: 18446744073709551616 buckets x 4294967295 levels", id="widest"),
        pytest.param([I64_MIN], 7, 1, "book_heatmap bucket start out of range: -9223372036854775814",
                     id="start-below-i64"),
        pytest.param([I64_MIN, I64_MAX], I64_MAX, 1, "book_heatmap bucket start out of range: -18446744073709551614",
                     id="start-below-i64-wide-bucket"),
    ],
)
def test_grid_refused(stamps, bucket_ms, depth, message):
    events = [snap(ts, *BOOK) for ts in stamps]
    assert frame_text(heatmap(1.0, bucket_ms, depth), {"book": events}) == data_error(message)


def test_refused_grid_with_an_empty_side_answers_the_empty_form():
    events = [snap(0, *BOOK), snap(10_000_000, [[1.0, 1.0]], [])]
    assert frame_text(heatmap(1.0, 1, 10), {"book": events}) == framed(EMPTY)


def test_handle_usable_after_a_refused_grid():
    handle = tavrin_ovra.Ovra("")
    spec = {"dataset_ref": "t", "symbol": "S", "panels": [heatmap(1.0, 1, 1)]}
    handle.command(json.dumps({"cmd": "set_spec", "spec": spec}))
    handle.command(json.dumps({"cmd": "load", "dataset": {"book": [snap(0, *BOOK), snap(10_000_000, *BOOK)]}}))
    refused = handle.command('{"cmd":"frame"}')
    assert refused == data_error("book_heatmap grid too large: 10000001 buckets x 1 levels")
    assert handle.command('{"cmd":"frame_at","ts":5}') == framed(panel("[0]", "[1.0]", "[[1.0]]"), cursor=5)
    assert handle.command('{"cmd":"frame"}') == refused


@pytest.mark.parametrize(
    "stamps, bucket_ms, time, rows",
    [
        pytest.param([I64_MIN], 1, "[-9223372036854775808]", "[[1.0]]", id="most-negative"),
        pytest.param([I64_MAX], I64_MAX, "[9223372036854775807]", "[[1.0]]", id="end-beyond-i64"),
        pytest.param([I64_MAX - 1, I64_MAX], 2, "[9223372036854775806]", "[[1.0]]", id="last-bucket-end-beyond-i64"),
        pytest.param([I64_MIN, I64_MAX], 2**62,
                     "[-9223372036854775808,-4611686018427387904,0,4611686018427387904]", "[[1.0],[1.0],[1.0],[1.0]]",
                     id="whole-range-in-four"),
    ],
)
def test_time_edges(stamps, bucket_ms, time, rows):
    events = [snap(ts, *BOOK) for ts in stamps]
    assert frame_text(heatmap(1.0, bucket_ms, 1), {"book": events}) == framed(panel(time, "[1.0]", rows))


@pytest.mark.slow
def test_largest_grid_allowed(request):
    skip_unless_slow_selected(request)
    events = [snap(0, *BOOK), snap(1, *BOOK)]
    text = frame_text(heatmap(1.0, 1, 5_000_000), {"book": events})
    assert text.startswith('{"symbol":"S","cursor_ts":9223372036854775807,"panels":[{"kind":"book_heatmap","time":[0,1],')


levels = st.lists(st.tuples(prices, quantities), max_size=4)
events = st.lists(st.tuples(timestamps, st.sampled_from(["snapshot", "diff"]), levels, levels), max_size=8)


@PANEL_SETTINGS
@given(events, price_bins, st.integers(1, 30), st.integers(1, 9))
def test_heatmap_matches_model(events, price_bin, bucket_ms, depth):
    try:
        expected = framed(panel_models.book_heatmap(by_time(events), price_bin, bucket_ms, depth))
    except panel_models.GridError as refused:
        expected = data_error(refused)
    book = [[ts, kind, [list(l) for l in bids], [list(l) for l in asks]] for ts, kind, bids, asks in events]
    assert frame_text(heatmap(price_bin, bucket_ms, depth), {"book": book}) == expected


# Deep books on a coarse price grid: updates insert, replace and remove levels
# at every depth of both sides, and snapshots cut in between.
grid_prices = st.one_of(st.integers(-24, 24).map(lambda i: i * 0.5), st.sampled_from([0.0, -0.0]))
grid_quantities = st.one_of(st.sampled_from([0.0, -0.0, 0.0, 1.5]), st.integers(-3, 9).map(float))
deep_levels = st.lists(st.tuples(grid_prices, grid_quantities), max_size=40)
deep_events = st.lists(st.tuples(timestamps, st.sampled_from(["snapshot", "diff", "diff", "diff"]), deep_levels,
                                 deep_levels), max_size=12)


@PANEL_SETTINGS
@given(deep_events, st.sampled_from([0.5, 1.0, 2.5]), st.integers(1, 20), st.integers(1, 30))
def test_deep_book_matches_model(events, price_bin, bucket_ms, depth):
    expected = framed(panel_models.book_heatmap(by_time(events), price_bin, bucket_ms, depth))
    book = [[ts, kind, [list(l) for l in bids], [list(l) for l in asks]] for ts, kind, bids, asks in events]
    assert frame_text(heatmap(price_bin, bucket_ms, depth), {"book": book}) == expected


def test_big_book_with_sparse_updates():
    # 70000 resting bids and one level changed per bucket: keeping a copy of
    # the whole book per bucket costs more than replaying the events again.
    far_bids = [[float(-p), 1.0] for p in range(70000, 1, -1)]
    events = [snap(0, far_bids + [[-1.0, 1.0]], [[1.0, 1.0]])]
    events += [diff(1000 * k, bids=[[-1.0, float(k)]]) for k in range(1, 12)]
    rows = ",".join("[%s.0,-0.0,1.0]" % max(k, 1) for k in range(12))
    times = "[" + ",".join(str(1000 * k) for k in range(12)) + "]"
    text = frame_text(heatmap(1.0, 1000, 3), {"book": events})
    assert text == framed(panel(times, "[-1.0,0.0,1.0]", "[" + rows + "]"))


def deep_book_events(seed, levels, updates, removal_share):
    """A snapshot of `levels` prices per side listed best first, then diffs
    anywhere in the book, some removing; several buckets of 1000 ms."""
    rng = random.Random(seed)
    events = [snap(0, [[float(levels - p), 1.0] for p in range(levels)],
                   [[float(levels + 1 + p), 2.0] for p in range(levels)])]
    for u in range(updates):
        price = float(rng.randrange(2 * levels + 2))
        qty = 0.0 if rng.random() < removal_share else float(rng.randrange(1, 9))
        side = [[price, qty]]
        events.append(diff(1 + u * 4000 // updates, bids=side if price <= levels else [],
                           asks=side if price > levels else []))
    return events


@pytest.mark.parametrize(
    "seed, levels, updates, removal_share",
    [
        pytest.param(1, 1500, 3000, 0.5, id="updates-anywhere"),
        pytest.param(2, 1200, 4000, 0.9, id="most-levels-removed"),
        pytest.param(3, 600, 3000, 0.1, id="levels-added-between"),
    ],
)
def test_deep_book_in_blocks_matches_model(seed, levels, updates, removal_share):
    events = deep_book_events(seed, levels, updates, removal_share)
    expected = framed(panel_models.book_heatmap(by_time(events), 100.0, 1000, 24))
    assert frame_text(heatmap(100.0, 1000, 24), {"book": events}) == expected


@pytest.mark.parametrize("levels", [255, 256, 257, 300, 513, 1025])
@pytest.mark.parametrize("built_best_first", [True, False], ids=["built-best-first", "built-best-last"])
@pytest.mark.parametrize("touched_best_first", [True, False], ids=["touched-best-first", "touched-best-last"])
def test_books_around_a_split(levels, built_best_first, touched_best_first):
    # Every price of the book is touched right after the snapshot that
    # built it, in one order, and then again in the other.
    prices = list(range(1, levels + 1))
    first, second = (list(reversed(prices)), prices) if touched_best_first else (prices, list(reversed(prices)))
    bids = [[float(p), 1.0] for p in (reversed(prices) if built_best_first else prices)]
    events = [snap(0, bids, [[float(levels + 1), 1.0]])]
    events.append(diff(1000, bids=[[float(p), 0.0 if p % 3 == 0 else 2.0] for p in first]))
    events.append(diff(2000, bids=[[float(p), 4.0 if p % 3 == 0 else 0.0] for p in second]))
    events.append(diff(3000, bids=[[float(levels), 1.0]]))
    expected = framed(panel_models.book_heatmap(by_time(events), 50.0, 1000, 24))
    assert frame_text(heatmap(50.0, 1000, 24), {"book": events}) == expected


@pytest.mark.parametrize(
    "events, rows",
    [
        # Ladder [1.0, 2.0]: best bid 2.0 and best ask 3.0 keep the centre at 2.0.
        pytest.param([snap(0, [[1.0, 1.0], [1.5, -1.0], [2.0, 1.0]], [[3.0, 1.0]]),
                      diff(1000, bids=[[1.0, 0.0], [1.5, 0.0]])],
                     "[[0.0,1.0],[-0.0,1.0]]", id="zero-then-negative-zero"),
        pytest.param([snap(0, [[1.0, 1.0], [1.5, -1.0], [2.0, 1.0]], [[3.0, 1.0]]),
                      diff(1000, bids=[[1.0, 0.0], [1.5, 0.0]]), diff(2000, bids=[[1.0, 1.0], [1.5, -1.0]])],
                     "[[0.0,1.0],[-0.0,1.0],[0.0,1.0]]", id="negative-zero-then-zero"),
        pytest.param([snap(0, [[1.0, 0.1], [2.0, 0.2]], [[3.0, 1.0]]), diff(3500, asks=[[3.0, 1.0]]),
                      diff(4000, bids=[[1.0, 0.3]])],
                     "[[0.1,0.2],[0.1,0.2],[0.1,0.2],[0.1,0.2],[0.3,0.2]]", id="repeated-rows-then-one-cell-changes"),
        pytest.param([snap(0, [[1.0, 1.7e308], [1.5, 1.7e308], [2.0, 1.0]], [[3.0, 1.0]]), diff(2000, bids=[[2.0, 2.0]])],
                     "[[null,1.0],[null,1.0],[null,2.0]]", id="null-cell-kept"),
    ],
)
def test_rows_over_buckets(events, rows):
    text = frame_text(heatmap(1.0, 1000, 2), {"book": events})
    times = "[" + ",".join(str(1000 * k) for k in range(rows.count("],[") + 1)) + "]"
    assert text == framed(panel(times, "[1.0,2.0]", rows))
