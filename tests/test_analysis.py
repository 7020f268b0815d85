"""Order-flow readouts of a footprint panel: delta, point of control, value area,
diagonal imbalances and their stacks, on panels small enough to work out by hand."""

import math

import pytest

from tavrin_ovra.analysis import footprint_readout, frame_readouts


def panel(bins, buys, sells):
    return {"kind": "footprint", "price_bins": bins, "buy_vol": buys, "sell_vol": sells}


# bins 100..150 by 10: buy imbalances at 120 (9 vs 1), 130 (12 vs 3) and 140 (6 vs 2,
# exactly 300 %), a sell imbalance at 140 (6 against no buy at 150)
LADDER = panel([100.0, 110.0, 120.0, 130.0, 140.0, 150.0],
               [0.0, 4.0, 9.0, 12.0, 6.0, 0.0], [3.0, 1.0, 3.0, 2.0, 6.0, 1.0])


@pytest.mark.parametrize("footprint, poc, value_area", [
    # target 70 % of 13 = 9.1: 110 (6), then the bigger neighbour below (5) makes 11
    (panel([100.0, 110.0, 120.0], [1.0, 5.0, 2.0], [4.0, 1.0, 0.0]), 110.0, (100.0, 110.0, 11.0)),
    # equal volumes: the bin nearest the middle of the range (115) wins
    (panel([100.0, 110.0, 120.0, 130.0], [3.0, 3.0, 1.0, 3.0], [0.0] * 4), 110.0, (100.0, 120.0, 7.0)),
    # equally near the middle: the lower bin
    (panel([100.0, 110.0, 120.0], [2.0, 1.0, 2.0], [0.0] * 3), 100.0, (100.0, 120.0, 5.0)),
    # equal neighbours while growing: the bin below is taken first
    (panel([100.0, 110.0, 120.0], [1.0, 4.0, 1.0], [0.0] * 3), 110.0, (100.0, 110.0, 5.0)),
    # one side used up: the area grows on the other
    (panel([100.0, 110.0, 120.0], [9.0, 2.0, 2.0], [0.0] * 3), 100.0, (100.0, 110.0, 11.0)),
    # nothing traded: the point of control alone
    (panel([100.0], [0.0], [0.0]), 100.0, (100.0, 100.0, 0.0)),
    # a null (not finite) volume counts as 0.0
    (panel([100.0, 110.0], [None, 1.0], [None, 0.0]), 110.0, (110.0, 110.0, 1.0)),
], ids=["neighbour-below", "poc-tie-middle", "poc-tie-lower", "growth-tie-below",
        "one-side", "no-volume", "null-volume"])
def test_point_of_control_and_value_area(footprint, poc, value_area):
    readout = footprint_readout(footprint, price_bin=10.0)
    assert readout.poc == poc
    assert (readout.value_area_low, readout.value_area_high, readout.value_area_volume) == value_area


def test_delta_and_totals():
    readout = footprint_readout(LADDER, price_bin=10.0)
    assert readout.volume == [3.0, 5.0, 12.0, 14.0, 12.0, 1.0]
    assert readout.delta == [-3.0, 3.0, 6.0, 10.0, 0.0, -1.0]
    assert (readout.total_volume, readout.total_delta) == (47.0, 15.0)


@pytest.mark.parametrize("options, imbalances, stacks", [
    ({}, [(120.0, "buy", 9.0), (130.0, "buy", 4.0), (140.0, "buy", 3.0), (140.0, "sell", None)],
     [{"side": "buy", "low": 120.0, "high": 140.0, "count": 3}]),
    ({"min_volume": 7.0}, [(120.0, "buy", 9.0), (130.0, "buy", 4.0)], []),
    ({"ratio": 5.0}, [(120.0, "buy", 9.0), (140.0, "sell", None)], []),
    ({"stack": 2}, [(120.0, "buy", 9.0), (130.0, "buy", 4.0), (140.0, "buy", 3.0), (140.0, "sell", None)],
     [{"side": "buy", "low": 120.0, "high": 140.0, "count": 3}]),
    ({"stack": 1}, [(120.0, "buy", 9.0), (130.0, "buy", 4.0), (140.0, "buy", 3.0), (140.0, "sell", None)],
     [{"side": "buy", "low": 120.0, "high": 140.0, "count": 3},
      {"side": "sell", "low": 140.0, "high": 140.0, "count": 1}]),
], ids=["defaults", "min-volume", "ratio-500", "stack-2", "stack-1"])
def test_diagonal_imbalances_and_stacks(options, imbalances, stacks):
    readout = footprint_readout(LADDER, price_bin=10.0, **options).as_json()
    assert [(i["price"], i["side"], i["ratio"]) for i in readout["imbalances"]] == imbalances
    assert readout["stacks"] == stacks


def test_a_price_gap_inside_the_range_has_no_volume():
    # 110 traded nothing: with the panel's bin of 10 both sides face an empty bin; taking
    # the gap between listed bins (20) as the bin height compares 120 with 100 instead
    gapped = panel([100.0, 120.0], [0.0, 5.0], [2.0, 0.0])
    found = footprint_readout(gapped, price_bin=10.0).imbalances
    assert [(i.price, i.side, i.against, i.ratio) for i in found] == [
        (100.0, "sell", 0.0, math.inf), (120.0, "buy", 0.0, math.inf)]
    assert footprint_readout(gapped).imbalances == []


def test_the_edges_of_the_range_compare_with_nothing():
    readout = footprint_readout(panel([100.0], [5.0], [5.0]), price_bin=10.0)
    assert readout.imbalances == [] and readout.stacks == []


def test_an_empty_footprint():
    readout = footprint_readout(panel([], [], []))
    assert readout.as_json() == {
        "prices": [], "volume": [], "delta": [], "total_volume": 0.0, "total_delta": 0.0,
        "poc": None, "value_area": {"low": None, "high": None, "volume": 0.0},
        "imbalances": [], "stacks": []}


@pytest.mark.parametrize("options, message", [
    ({"ratio": 0.0}, "ratio must be a positive number"),
    ({"ratio": math.inf}, "ratio must be a positive number"),
    ({"value_area_share": 0.0}, "value_area_share must lie in (0, 1]"),
    ({"stack": 0}, "stack must be at least 1"),
])
def test_bad_options(options, message):
    with pytest.raises(ValueError, match=message.replace("(", r"\(").replace("]", r"\]")):
        footprint_readout(LADDER, **options)


def test_frame_readouts_take_each_panels_bin_from_the_spec():
    gapped = panel([100.0, 120.0], [0.0, 5.0], [2.0, 0.0])
    frame = {"panels": [{"kind": "liquidation_map", "events": []}, gapped, gapped]}
    spec = {"panels": [{"kind": "liquidation_map", "price_bin": 1.0},
                       {"kind": "footprint", "price_bin": 10.0},
                       {"kind": "footprint", "price_bin": 20.0}]}
    readouts = frame_readouts(frame, spec)
    assert [r["panel"] for r in readouts] == [1, 2]
    assert [len(r["imbalances"]) for r in readouts] == [2, 0]
