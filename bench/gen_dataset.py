"""Synthetic market datasets in the "load" JSON form, reproducible from a seed.

As a script it writes one dataset text to stdout (or --out):

    python3 bench/gen_dataset.py --trades 1000000 --book 100000 --levels 20 --out /tmp/big.json

As a module, `generate()` builds the dataset as Python values and `dataset_text()`
writes it compactly. Timestamps run forward with a little jitter, so every series
arrives nearly (not fully) ordered, with repeated stamps, as recorded feeds do.
"""

import argparse
import json
import random
import sys

SERIES = ("candles", "trades", "book", "funding", "oi", "liquidations")
FIELDS = {
    "candles": ("ts", "open", "high", "low", "close", "volume"),
    "trades": ("ts", "price", "qty", "side"),
    "book": ("ts", "kind", "bids", "asks"),
    "funding": ("ts", "rate"),
    "oi": ("ts", "oi"),
    "liquidations": ("ts", "price", "qty", "side"),
}
START_TS = 1_700_000_000_000


def _stamps(rng, count, step_ms):
    ts = START_TS
    out = []
    for _ in range(count):
        ts += rng.randint(0, 2 * step_ms)
        # One record in twenty arrives late.
        out.append(ts - rng.randint(1, 5 * step_ms) if rng.random() < 0.05 else ts)
    return out


def _price(rng, mid):
    return round(mid + rng.uniform(-50, 50), 2)


def _qty(rng):
    return round(rng.expovariate(2.0), 4) or 0.0001


def _levels(rng, count, mid, direction):
    return [[round(mid + direction * (i + 1) * 0.5, 1), _qty(rng)] for i in range(count)]


def _record(rng, series, ts, levels):
    mid = 30_000.0
    if series == "candles":
        o, c = _price(rng, mid), _price(rng, mid)
        return [ts, o, max(o, c) + 1.0, min(o, c) - 1.0, c, round(rng.uniform(0, 500), 3)]
    if series == "trades":
        return [ts, _price(rng, mid), _qty(rng), rng.choice(("buy", "sell"))]
    if series == "book":
        kind = "snapshot" if rng.random() < 0.02 else "diff"
        return [ts, kind, _levels(rng, levels, mid, -1), _levels(rng, levels, mid, 1)]
    if series == "funding":
        return [ts, round(rng.uniform(-0.001, 0.001), 6)]
    if series == "oi":
        return [ts, round(rng.uniform(1e8, 2e8), 2)]
    return [ts, _price(rng, mid), _qty(rng), rng.choice(("long", "short"))]


def as_object(series, record):
    """The object form of a record given in array form."""
    return dict(zip(FIELDS[series], record))


def generate(seed=0, candles=0, trades=0, book=0, levels=20, funding=0, oi=0, liquidations=0,
             object_share=0.0):
    """A dataset dict of six series; `object_share` of the records use the object form."""
    rng = random.Random(seed)
    counts = dict(candles=candles, trades=trades, book=book, funding=funding, oi=oi, liquidations=liquidations)
    steps = dict(candles=60_000, trades=10, book=100, funding=3_600_000, oi=60_000, liquidations=5_000)
    dataset = {}
    for series in SERIES:
        records = []
        for ts in _stamps(rng, counts[series], steps[series]):
            record = _record(rng, series, ts, levels)
            records.append(as_object(series, record) if rng.random() < object_share else record)
        dataset[series] = records
    return dataset


def dataset_text(dataset):
    return json.dumps(dataset, separators=(",", ":"))


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    for series in SERIES:
        parser.add_argument("--" + series, type=int, default=0, metavar="N")
    parser.add_argument("--levels", type=int, default=20, help="levels per side of each book event")
    parser.add_argument("--object-share", type=float, default=0.0, help="share of records in object form")
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--out", help="file to write (default stdout)")
    args = parser.parse_args(argv)
    dataset = generate(args.seed, args.candles, args.trades, args.book, args.levels, args.funding,
                       args.oi, args.liquidations, args.object_share)
    text = dataset_text(dataset)
    if args.out:
        with open(args.out, "w") as f:
            f.write(text)
    else:
        sys.stdout.write(text)


if __name__ == "__main__":
    main()
