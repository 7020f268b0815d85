"""Datasets, specs and command texts shared by the hardening tests (threads,
memory, state machine). Everything is deterministic: seeded generators only."""

import json
import os
import random

import tavrin_ovra

SERIES = ("candles", "trades", "book", "funding", "oi", "liquidations")

NO_DATASET = '{"ok":false,"error":"data: no dataset"}'
NO_SPEC = '{"ok":false,"error":"bad spec: no spec set"}'
OK = '{"ok":true}'

ALL_PANELS_SPEC = {
    "dataset_ref": "hardening",
    "symbol": "BTC-PERP",
    "panels": [
        {"kind": "footprint", "price_bin": 0.5},
        {"kind": "book_heatmap", "price_bin": 0.5, "bucket_ms": 60000, "depth_levels": 20},
        {"kind": "liquidation_map", "price_bin": 1.0},
        {"kind": "funding_oi_divergence", "bucket_ms": 60000},
    ],
}


def compact(value):
    return json.dumps(value, separators=(",", ":"))


def command(name, **members):
    return compact({"cmd": name, **members})


def make_dataset(seed, records, start_ts=1_700_000_000_000, step_ms=250):
    """A market dataset of about `records` records over all six series, with
    repeated timestamps, unsorted runs and every enumeration word."""
    rng = random.Random(seed)
    n = max(records // 10, 1)
    span = records * step_ms

    def ts():
        return start_ts + rng.randrange(span)

    def price():
        return round(100.0 + rng.uniform(-5.0, 5.0), 3)

    def levels(side_sign):
        mid = 100.0
        return [[round(mid + side_sign * (0.25 + 0.5 * k), 2), round(rng.uniform(0.0, 9.0), 3)]
                for k in range(rng.randrange(1, 8))]

    return {
        "candles": [[ts(), price(), price() + 1, price() - 1, price(), rng.uniform(0, 50)] for _ in range(n)],
        "trades": [[ts(), price(), round(rng.uniform(0.001, 3.0), 4), rng.choice(("buy", "sell"))]
                   for _ in range(records - 5 * n)],
        "book": [{"ts": ts(), "kind": "snapshot" if k % 7 == 0 else "diff", "bids": levels(-1), "asks": levels(1)}
                 for k in range(n)],
        "funding": [[ts(), rng.uniform(-0.001, 0.001)] for _ in range(n)],
        "oi": [{"ts": ts(), "oi": rng.uniform(1000.0, 2000.0)} for _ in range(n)],
        "liquidations": [[ts(), price(), rng.uniform(0.0, 4.0), rng.choice(("long", "short"))] for _ in range(n)],
    }


def spec_handle(spec):
    """A handle holding `spec`, set by command (the constructor's text road is
    tested elsewhere; these tests exercise state, not spec reading)."""
    handle = tavrin_ovra.Ovra("")
    assert handle.command(command("set_spec", spec=spec)) == OK
    return handle


def record_count(dataset):
    return sum(len(dataset.get(series, [])) for series in SERIES)


def timestamps(dataset):
    out = []
    for series in SERIES:
        for record in dataset.get(series, []):
            out.append(record["ts"] if isinstance(record, dict) else record[0])
    return out


def bounds_text(dataset):
    stamps = timestamps(dataset)
    if not stamps:
        return NO_DATASET
    return compact({"from_ts": min(stamps), "to_ts": max(stamps), "count": len(stamps)})


def loaded_text(dataset):
    return compact({"ok": True, "loaded": record_count(dataset)})


def package_root():
    """The directory to put on PYTHONPATH so that a child interpreter imports
    the same tavrin_ovra as this one."""
    return os.path.dirname(os.path.dirname(os.path.abspath(tavrin_ovra.__file__)))
