"""Footprint panel: buy and sell volume per price bin, as frame texts."""

import pytest
from hypothesis import given
from hypothesis import strategies as st

import panel_models
from panel_frames import frame_text, framed
from panel_strategies import PANEL_SETTINGS, by_time, price_bins, prices, quantities, timestamps


def footprint(price_bin=1.0, bucket_ms=60000):
    return {"kind": "footprint", "price_bin": price_bin, "bucket_ms": bucket_ms}


def panel(bins, buys, sells):
    return '{"kind":"footprint","price_bins":%s,"buy_vol":%s,"sell_vol":%s}' % (bins, buys, sells)


@pytest.mark.parametrize(
    "price_bin, trades, expected",
    [
        pytest.param(1.0, [], panel("[]", "[]", "[]"), id="no-trades"),
        pytest.param(0.5, [[1, 101.3, 1.0, "buy"], [2, 101.5, 2.0, "sell"]],
                     panel("[101.0,101.5]", "[1.0,0.0]", "[0.0,2.0]"), id="half-bins"),
        pytest.param(1.0, [[1, 100.2, 1.0, "buy"], [2, 100.7, 2.0, "buy"]],
                     panel("[100.0]", "[3.0]", "[0.0]"), id="one-bin-summed"),
        pytest.param(10.0, [[1, -3.0, 1.0, "sell"]], panel("[-10.0]", "[0.0]", "[1.0]"), id="negative-floors-down"),
        pytest.param(10.0, [[1, 0.0, 1.0, "buy"], [2, -0.0, 2.0, "buy"]],
                     panel("[-0.0,0.0]", "[2.0,1.0]", "[0.0,0.0]"), id="negative-zero-bin-first"),
        pytest.param(1.0, [[1, 5.0, 0.1, "buy"], [2, 5.0, 0.2, "buy"]], panel("[5.0]", "[0.3]", "[0.0]"),
                     id="sum-rounded"),
        pytest.param(1.0, [[1, 5.0, 2.5e-9, "buy"], [2, 6.0, 5e-9, "sell"]],
                     panel("[5.0,6.0]", "[0.0,0.0]", "[0.0,1e-8]"), id="halves-away-from-zero"),
        pytest.param(0.1, [[1, 0.35, 1.0, "buy"]], panel("[0.3]", "[1.0]", "[0.0]"), id="edge-rounded"),
        pytest.param(1.0, [[1, 9.0, 1.0, "buy"], [2, -4.0, 1.0, "sell"], [3, 2.0, 1.0, "buy"]],
                     panel("[-4.0,2.0,9.0]", "[0.0,1.0,1.0]", "[1.0,0.0,0.0]"), id="ascending-bins"),
        pytest.param(1e-10, [[1, 1e308, 1.0, "buy"], [2, -1e308, 1.0, "sell"]],
                     panel("[null,null]", "[0.0,1.0]", "[1.0,0.0]"), id="overflowing-edges"),
        pytest.param(1.0, [[1, 1.0, 1.7e308, "buy"], [2, 1.0, 1.7e308, "buy"], [3, 1.0, 1e301, "sell"]],
                     panel("[1.0]", "[null]", "[null]"), id="overflowing-sums"),
        pytest.param(1.0, [[1, 1.0, -2.0, "buy"], [2, 1.0, 0.0, "sell"]], panel("[1.0]", "[-2.0]", "[0.0]"),
                     id="negative-and-zero-qty"),
    ],
)
def test_footprint_examples(price_bin, trades, expected):
    assert frame_text(footprint(price_bin), {"trades": trades}) == framed(expected)


def test_bucket_ms_changes_nothing():
    trades = [[t, 100.0 + t / 7, 1.0, "buy"] for t in range(20)]
    assert frame_text(footprint(bucket_ms=1), {"trades": trades}) == frame_text(
        footprint(bucket_ms=86_400_000), {"trades": trades}
    )


def test_footprint_never_fails_on_a_huge_span():
    trades = [[-(2**63), 1.0, 1.0, "buy"], [2**63 - 1, 1.0, 1.0, "sell"]]
    assert frame_text(footprint(bucket_ms=1), {"trades": trades}) == framed(panel("[1.0]", "[1.0]", "[1.0]"))


trades = st.lists(st.tuples(timestamps, prices, quantities, st.sampled_from(["buy", "sell"])), max_size=25)


@PANEL_SETTINGS
@given(trades, price_bins)
def test_footprint_matches_model(trades, price_bin):
    expected = panel_models.footprint(by_time(trades), price_bin)
    assert frame_text(footprint(price_bin), {"trades": [list(t) for t in trades]}) == framed(expected)


# Prices that wander around bin edges, signed zeros, the smallest subnormals
# and overflowing quotients: runs of consecutive trades share a bin, leave it
# by a hair and come back, as a scrubbed handle labels them.
EDGE_BINS = st.sampled_from([0.1, 0.5, 1.0, 3.0, 1e-10, 1e-300])
EDGE_STEPS = st.sampled_from([0.0, -0.0, 5e-324, -5e-324, 1e-12, -1e-12, 1e-9, 0.49, 0.5, 0.51, 1.0, -1.0])


@st.composite
def wandering_trades(draw):
    price_bin = draw(EDGE_BINS)
    origin = draw(st.sampled_from([0.0, -0.0, 5e-324, -5e-324, 100.0, -7.0, 1e308, -1e308]))
    price, trades = origin, []
    for ts in range(draw(st.integers(1, 120))):
        step = draw(EDGE_STEPS)
        price = draw(st.sampled_from([price, origin, price + step * price_bin, price - step * price_bin]))
        trades.append((ts, price, draw(st.sampled_from([0.25, 1.0, 3.5])), draw(st.sampled_from(["buy", "sell"]))))
    return price_bin, trades


@PANEL_SETTINGS
@given(wandering_trades(), st.lists(st.integers(0, 120), min_size=1, max_size=6))
def test_footprint_of_wandering_prices_matches_model_while_scrubbing(case, cursors):
    from hardening_data import command, spec_handle

    price_bin, trades = case
    handle = spec_handle({"dataset_ref": "", "symbol": "S", "panels": [footprint(price_bin)]})
    handle.command(command("load", dataset={"trades": [list(t) for t in trades]}))
    for cursor in cursors + [trades[-1][0]]:
        expected = panel_models.footprint([t for t in trades if t[0] <= cursor], price_bin)
        answer = handle.command(command("frame_at", ts=cursor))
        assert answer == '{"symbol":"S","cursor_ts":%d,"panels":[%s]}' % (cursor, expected)
