"""All grid panels of one frame share one budget of 40,000,000 cells (heatmap
cells plus funding / open-interest buckets), checked in spec order before
anything is allocated."""

import json

import pytest

import tavrin_ovra


def heatmap(levels=1000, bucket_ms=1):
    return {"kind": "book_heatmap", "price_bin": 1.0, "bucket_ms": bucket_ms, "depth_levels": levels}


FUNDING = {"kind": "funding_oi_divergence", "bucket_ms": 1}

# Book events at 0 and 8999 with bucket_ms 1: 9,000 buckets, so 9,000,000
# cells per 1000-level heatmap, each within the panel limit.
TWO_SIDED = [[0, "snapshot", [[99.0, 1.0]], [[101.0, 1.0]]], [8999, "diff", [[99.0, 2.0]], []]]
ONE_SIDED = [[0, "snapshot", [[99.0, 1.0]], []], [8999, "diff", [[99.0, 2.0]], []]]


def frame(panels, book, candles=()):
    handle = tavrin_ovra.Ovra(json.dumps({"dataset_ref": "d", "symbol": "S", "panels": panels}))
    dataset = {"book": book, "candles": [[ts, 1, 1, 1, 1, 1] for ts in candles]}
    handle.command(json.dumps({"cmd": "load", "dataset": dataset}))
    response = handle.command('{"cmd":"frame"}')
    # The handle stays usable whatever the frame answered.
    assert handle.command('{"cmd":"version"}') == '{"version":"0.1.6"}'
    return response


def error(message):
    return '{"ok":false,"error":"data: %s"}' % message


@pytest.mark.parametrize(
    "panels, candles, expected",
    [
        pytest.param([heatmap()] * 5, (), error("frame grids too large: 45000000 cells across panels"),
                     id="five-heatmaps-of-9M"),
        pytest.param([heatmap()] * 4 + [FUNDING], (0, 4_999_999),
                     error("frame grids too large: 41000000 cells across panels"), id="funding-buckets-count"),
        # A panel that refuses its own grid comes first, even past the budget.
        pytest.param([heatmap(levels=2000)] + [heatmap()] * 5, (),
                     error("book_heatmap grid too large: 9000 buckets x 2000 levels"), id="own-limit-first"),
        pytest.param([heatmap()] * 4 + [heatmap(levels=2000)], (),
                     error("book_heatmap grid too large: 9000 buckets x 2000 levels"), id="own-limit-after-36M"),
    ],
)
def test_frame_budget_refusals(panels, candles, expected):
    assert frame(panels, TWO_SIDED, candles) == expected


def test_one_sided_heatmaps_allocate_nothing_and_do_not_count():
    empty = '{"kind":"book_heatmap","time":[],"price":[],"intensity":[]}'
    assert frame([heatmap()] * 6, ONE_SIDED) == '{"symbol":"S","cursor_ts":8999,"panels":[%s]}' % ",".join([empty] * 6)
