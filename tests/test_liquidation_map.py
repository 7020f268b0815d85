"""Liquidation map panel: one binned, rounded, ordered mark per liquidation."""

import pytest
from hypothesis import given
from hypothesis import strategies as st

import panel_models
from panel_frames import frame_text, framed
from panel_strategies import PANEL_SETTINGS, by_time, price_bins, prices, quantities, timestamps


def liquidation_map(price_bin=1.0):
    return {"kind": "liquidation_map", "price_bin": price_bin}


def panel(*marks):
    events = ",".join('{"ts":%d,"price_bin":%s,"qty":%s,"side":"%s"}' % m for m in marks)
    return '{"kind":"liquidation_map","events":[' + events + "]}"


@pytest.mark.parametrize(
    "price_bin, liquidations, expected",
    [
        pytest.param(1.0, [], panel(), id="no-liquidations"),
        pytest.param(0.5, [[1, 101.3, 1.0, "long"], [2, 101.5, 1.0, "short"]],
                     panel((1, "101.0", "1.0", "long"), (2, "101.5", "1.0", "short")), id="half-bins"),
        pytest.param(10.0, [[1, -3.0, 1.0, "long"]], panel((1, "-10.0", "1.0", "long")), id="negative-floors-down"),
        pytest.param(10.0, [[1, 0.0, 1.0, "long"], [1, -0.0, 2.0, "long"]],
                     panel((1, "-0.0", "2.0", "long"), (1, "0.0", "1.0", "long")), id="negative-zero-first"),
        pytest.param(1.0, [[1, 5.0, 0.123456789, "long"], [2, 5.0, 2.5e-9, "long"], [3, 5.0, 5e-9, "long"],
                           [4, 5.0, -5e-9, "long"]],
                     panel((1, "5.0", "0.12345679", "long"), (2, "5.0", "0.0", "long"), (3, "5.0", "1e-8", "long"),
                           (4, "5.0", "-1e-8", "long")), id="qty-rounded"),
        pytest.param(0.1, [[1, 0.35, 1.0, "short"]], panel((1, "0.3", "1.0", "short")), id="edge-rounded"),
        pytest.param(1.0, [[1, 5.5, 1.0, "short"], [1, 5.2, 2.0, "long"], [1, 5.9, 3.0, "short"]],
                     panel((1, "5.0", "2.0", "long"), (1, "5.0", "1.0", "short"), (1, "5.0", "3.0", "short")),
                     id="long-first-then-window-order"),
        pytest.param(1.0, [[3, 1.0, 1.0, "long"], [-2, 9.0, 1.0, "long"], [3, -4.0, 1.0, "short"]],
                     panel((-2, "9.0", "1.0", "long"), (3, "-4.0", "1.0", "short"), (3, "1.0", "1.0", "long")),
                     id="time-then-bin"),
        pytest.param(1e-10, [[1, 1e308, 1.7e308, "long"], [1, -1e308, -0.0, "short"], [1, 7.0, 0.0, "long"]],
                     panel((1, "null", "-0.0", "short"), (1, "7.0", "0.0", "long"), (1, "null", "null", "long")),
                     id="infinite-bins-at-the-ends"),
        pytest.param(1.0, [[-(2**63), 1.0, 1.0, "long"], [2**63 - 1, 1.0, 1.0, "short"]],
                     panel((-(2**63), "1.0", "1.0", "long"), (2**63 - 1, "1.0", "1.0", "short")), id="extreme-times"),
    ],
)
def test_liquidation_examples(price_bin, liquidations, expected):
    assert frame_text(liquidation_map(price_bin), {"liquidations": liquidations}) == framed(expected)


def test_many_marks_follow_the_same_order():
    # Beyond the insertion-sort size: 40 marks at 4 times, bins and sides mixed.
    liquidations = [[(i * 7) % 4, float((i * 5) % 3), float(i), "short" if i % 3 else "long"] for i in range(40)]
    expected = panel_models.liquidation_map(by_time([tuple(l) for l in liquidations]), 1.0)
    assert frame_text(liquidation_map(), {"liquidations": liquidations}) == framed(expected)


liquidations = st.lists(st.tuples(timestamps, prices, quantities, st.sampled_from(["long", "short"])), max_size=40)


@PANEL_SETTINGS
@given(liquidations, price_bins)
def test_liquidation_map_matches_model(liquidations, price_bin):
    expected = panel_models.liquidation_map(by_time(liquidations), price_bin)
    assert frame_text(liquidation_map(price_bin), {"liquidations": [list(l) for l in liquidations]}) == framed(expected)
