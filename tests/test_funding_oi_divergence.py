"""Funding / open-interest panel: three series carried on one time grid, the
grid limit and the 64-bit time edges, as frame texts."""

import pytest
from hypothesis import assume, given
from hypothesis import strategies as st

import panel_models
from panel_frames import I64_MAX, I64_MIN, data_error, frame_text, framed, skip_unless_slow_selected
from panel_strategies import PANEL_SETTINGS, by_time, edge_timestamps, quantities, timestamps

EMPTY = '{"kind":"funding_oi_divergence","time":[],"funding":[],"oi":[],"price":[]}'


def divergence(bucket_ms=60000):
    return {"kind": "funding_oi_divergence", "bucket_ms": bucket_ms}


def panel(time, funding, oi, price):
    return '{"kind":"funding_oi_divergence","time":%s,"funding":%s,"oi":%s,"price":%s}' % (time, funding, oi, price)


def candle(ts, close):
    return [ts, 0.0, 0.0, 0.0, close, 0.0]


@pytest.mark.parametrize(
    "dataset, expected",
    [
        pytest.param({"trades": [[1, 1.0, 1.0, "buy"]]}, EMPTY, id="no-samples"),
        pytest.param({"candles": [candle(90000, 101.5)]}, panel("[60000]", "[0.0]", "[0.0]", "[101.5]"),
                     id="single-candle"),
        pytest.param({"funding": [[60000, 1.0], [120000, 2.0]]},
                     panel("[60000,120000]", "[1.0,2.0]", "[0.0,0.0]", "[0.0,0.0]"), id="bucket-end-exclusive"),
        pytest.param({"funding": [[0, 0.5]], "oi": [[600000, 7.0]]},
                     panel("[%s]" % ",".join(str(60000 * k) for k in range(11)), "[" + ",".join(["0.5"] * 11) + "]",
                           "[" + ",".join(["0.0"] * 10) + ",7.0]", "[" + ",".join(["0.0"] * 11) + "]"),
                     id="carried-through-eleven"),
        pytest.param({"oi": [[-1, 3.0]]}, panel("[-60000]", "[0.0]", "[3.0]", "[0.0]"), id="negative-floor"),
        pytest.param({"funding": [[1, 1.0], [5, 2.0], [5, 3.0], [61000, 4.0]]},
                     panel("[0,60000]", "[3.0,4.0]", "[0.0,0.0]", "[0.0,0.0]"), id="last-sample-of-bucket"),
        pytest.param({"funding": [[0, 0.000123456789]], "candles": [candle(0, 0.123456789)], "oi": [[0, 5e-9]]},
                     panel("[0]", "[0.00012346]", "[1e-8]", "[0.12345679]"), id="rounded"),
        pytest.param({"candles": [candle(0, 1.0), candle(120000, -0.0)]},
                     panel("[0,60000,120000]", "[0.0,0.0,0.0]", "[0.0,0.0,0.0]", "[1.0,1.0,-0.0]"),
                     id="candles-alone"),
        pytest.param({"funding": [[0, 1.7e308]], "oi": [[0, -1e301]], "candles": [candle(0, 1e300)]},
                     panel("[0]", "[null]", "[null]", "[1e+300]"), id="overflow-to-infinity"),
    ],
)
def test_divergence_examples(dataset, expected):
    assert frame_text(divergence(), dataset) == framed(expected)


@pytest.mark.parametrize(
    "dataset, bucket_ms, expected",
    [
        pytest.param({"funding": [[I64_MIN, 1.0]]}, 1, panel("[-9223372036854775808]", "[1.0]", "[0.0]", "[0.0]"),
                     id="most-negative"),
        pytest.param({"oi": [[I64_MAX, 2.0]]}, I64_MAX, panel("[9223372036854775807]", "[0.0]", "[2.0]", "[0.0]"),
                     id="end-beyond-i64"),
        pytest.param({"candles": [candle(I64_MAX - 1, 1.0), candle(I64_MAX, 2.0)]}, 2,
                     panel("[9223372036854775806]", "[0.0]", "[0.0]", "[2.0]"), id="last-bucket-end-beyond-i64"),
        pytest.param({"funding": [[I64_MIN, 1.0]], "oi": [[I64_MAX, 2.0]]}, 2**62,
                     panel("[-9223372036854775808,-4611686018427387904,0,4611686018427387904]", "[1.0,1.0,1.0,1.0]",
                           "[0.0,0.0,0.0,2.0]", "[0.0,0.0,0.0,0.0]"), id="whole-range-in-four"),
    ],
)
def test_time_edges(dataset, bucket_ms, expected):
    assert frame_text(divergence(bucket_ms), dataset) == framed(expected)


@pytest.mark.parametrize(
    "dataset, bucket_ms, message",
    [
        pytest.param({"funding": [[0, 1.0]], "candles": [candle(10_000_000, 1.0)]}, 1,
                     "funding_oi_divergence grid too large: 10000001 buckets", id="one-bucket-too-many"),
        pytest.param({"oi": [[I64_MIN, 1.0], [I64_MAX, 1.0]]}, 1,
                     "funding_oi_divergence grid too large: 18446744073709551616 buckets", id="widest"),
        pytest.param({"funding": [[I64_MIN, 1.0]]}, 7,
                     "funding_oi_divergence bucket start out of range: -9223372036854775814", id="start-below-i64"),
        pytest.param({"oi": [[I64_MIN, 1.0]]}, I64_MAX,
                     "funding_oi_divergence bucket start out of range: -18446744073709551614", id="wide-bucket"),
    ],
)
def test_grid_refused(dataset, bucket_ms, message):
    assert frame_text(divergence(bucket_ms), dataset) == data_error(message)


def test_first_failing_panel_in_spec_order_is_reported():
    dataset = {"funding": [[0, 1.0], [20_000_000, 1.0]], "book": [[0, "snapshot", [[1.0, 1.0]], [[2.0, 1.0]]],
                                                               [20_000_000, "diff", [], []]]}
    heatmap = {"kind": "book_heatmap", "bucket_ms": 1, "depth_levels": 1}
    heatmap_error = data_error("book_heatmap grid too large: 20000001 buckets x 1 levels")
    funding_error = data_error("funding_oi_divergence grid too large: 20000001 buckets")
    footprint = {"kind": "footprint"}
    assert frame_text([footprint, heatmap, divergence(1)], dataset) == heatmap_error
    assert frame_text([footprint, divergence(1), heatmap], dataset) == funding_error


@pytest.mark.slow
def test_largest_grid_allowed(request):
    skip_unless_slow_selected(request)
    text = frame_text(divergence(1), {"funding": [[0, 1.0], [9_999_999, 2.0]]})
    assert text.endswith(",0.0]}]}") and '"time":[0,1,2,' in text and ",9999999]" in text


samples = st.lists(st.tuples(timestamps, quantities), max_size=8)


@PANEL_SETTINGS
@given(samples, samples, samples, st.integers(1, 30))
def test_divergence_matches_model(funding, oi, closes, bucket_ms):
    expected = framed(panel_models.funding_oi_divergence(by_time(funding), by_time(oi), by_time(closes), bucket_ms))
    dataset = {"funding": [list(f) for f in funding], "oi": [list(o) for o in oi],
               "candles": [candle(ts, close) for ts, close in closes]}
    assert frame_text(divergence(bucket_ms), dataset) == expected


@PANEL_SETTINGS
@given(st.lists(edge_timestamps, min_size=1, max_size=4), st.one_of(st.integers(1, 50), st.integers(1, I64_MAX)))
def test_divergence_time_edges_match_model(stamps, bucket_ms):
    buckets = max(stamps) // bucket_ms - min(stamps) // bucket_ms + 1
    assume(buckets <= 1000 or buckets > panel_models.MAX_GRID_CELLS)  # keep the model and the text small
    funding = [(ts, float(i)) for i, ts in enumerate(stamps)]
    try:
        expected = framed(panel_models.funding_oi_divergence(by_time(funding), [], [], bucket_ms))
    except panel_models.GridError as refused:
        expected = data_error(refused)
    assert frame_text(divergence(bucket_ms), {"funding": [list(f) for f in funding]}) == expected
