"""The dense sample beside a real recording: the same statistics, measured the same way.

    python3 bench/calibrate_dense.py --real /work/shared/data/binance-usdm-ethusdt-20240718/dataset.json.gz
    python3 bench/calibrate_dense.py --real REAL.json.gz --minutes 60    # a longer sample

Both datasets are read as dataset JSON (gzip or plain) and replayed level by level. The
distance of a change is measured in ticks from its side's best price in the book as it stood
before the change's event (negative: inside the spread). "Re-adds" are levels put back at a
price that an earlier change of the same side had removed; "removes of absent levels" carry a
zero size for a price the book did not hold. Book sizes are taken after every event; the real
recording starts from a 1,000-level snapshot and fills in its depth over the first minutes, so
its "last" column is the one to compare.
"""

import argparse
import gzip
import io
import json
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, os.pardir, "python"))

from tavrin_ovra import sample  # noqa: E402

TICK = 0.01


def quantiles(values, points=(0.1, 0.25, 0.5, 0.75, 0.9, 0.99)):
    values = sorted(values)
    return [values[min(int(len(values) * q), len(values) - 1)] for q in points]


def measure(dataset):
    book, trades = dataset["book"], dataset["trades"]
    seconds = (book[-1][0] - book[0][0]) / 1000.0
    bids, asks, removed = {}, {}, (set(), set())
    distance, per_event, sizes = [], [], []
    counts = dict(changes=0, removes=0, adds=0, readds=0, absent=0)
    diffs = 0
    for ts, kind, bid_levels, ask_levels in book:
        if kind == "snapshot":
            bids = {round(p / TICK): q for p, q in bid_levels}
            asks = {round(p / TICK): q for p, q in ask_levels}
            continue
        diffs += 1
        tops = (max(bids), min(asks))
        per_event.append(len(bid_levels) + len(ask_levels))
        for s, (side, levels, sign) in enumerate(((bids, bid_levels, 1), (asks, ask_levels, -1))):
            for price, qty in levels:
                tick = round(price / TICK)
                counts["changes"] += 1
                distance.append((tops[s] - tick) * sign)
                if qty == 0:
                    if side.pop(tick, None) is None:
                        counts["absent"] += 1
                    else:
                        counts["removes"] += 1
                        removed[s].add(tick)
                else:
                    if tick not in side:
                        counts["adds"] += 1
                        counts["readds"] += tick in removed[s]
                    side[tick] = qty
        sizes.append((len(bids), len(asks)))
    gaps = [b[0] - a[0] for a, b in zip(book, book[1:]) if b[1] == "diff"]
    stamps = {}
    for t in trades:
        stamps[t[0]] = stamps.get(t[0], 0) + 1
    late = sizes[len(sizes) // 2:]
    near = sum(1 for d in distance if 0 <= d < 1000)
    return [
        ("seconds", "%.0f" % seconds),
        ("level changes a second", "%.0f" % (counts["changes"] / seconds)),
        ("trades a second", "%.1f" % (len(trades) / seconds)),
        ("diffs", "%d" % diffs),
        ("ms between diffs: median, mean", "%d, %.1f" % (quantiles(gaps, [0.5])[0],
                                                         sum(gaps) / len(gaps))),
        ("changes a diff: p10 p25 p50 p75 p90 p99", " ".join(map(str, quantiles(per_event)))),
        ("changes a diff: mean, max", "%.1f, %d" % (sum(per_event) / len(per_event),
                                                    max(per_event))),
        ("book levels bid/ask: last", "%d / %d" % sizes[-1]),
        ("book levels bid/ask: 2nd half min-max", "%d-%d / %d-%d" % (
            min(b for b, _ in late), max(b for b, _ in late),
            min(a for _, a in late), max(a for _, a in late))),
        ("distance p10 p25 p50 p75 p90 p99", " ".join(map(str, quantiles(distance)))),
        ("share within 1000 ticks / inside spread", "%.2f / %.3f" % (
            near / len(distance), sum(1 for d in distance if d < 0) / len(distance))),
        ("removes / adds / re-adds (of changes)", "%.3f / %.3f / %.3f" % (
            counts["removes"] / counts["changes"], counts["adds"] / counts["changes"],
            counts["readds"] / counts["changes"])),
        ("removes of absent levels (of changes)", "%.3f" % (counts["absent"] / counts["changes"])),
        ("trade size p10 p25 p50 p75 p90 p99", " ".join("%g" % q for q in quantiles(
            [t[2] for t in trades]))),
        ("trades a distinct time", "%.2f" % (len(trades) / len(stamps))),
        ("price range", "%g-%g" % (min(t[1] for t in trades), max(t[1] for t in trades))),
        ("candles, funding, oi, liquidations", "%d, %d, %d, %d" % tuple(
            len(dataset.get(k, [])) for k in ("candles", "funding", "oi", "liquidations"))),
    ]


def read(path):
    opener = gzip.open if path.endswith(".gz") else open
    with opener(path, "rt") as f:
        return json.load(f)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--real", required=True, help="dataset JSON of a recording (.gz or not)")
    parser.add_argument("--minutes", type=float, default=8.0, help="length of the dense sample")
    parser.add_argument("--seed", type=int, default=sample.DEFAULT_SEED)
    args = parser.parse_args()
    real = measure(read(args.real))
    start = time.perf_counter()
    text = sample.sample_dataset(args.minutes, args.seed, preset="dense")
    took = time.perf_counter() - start
    dense = measure(json.loads(text))
    print("dense sample: %g minutes, seed %d, %.1f MB, generated in %.2f s" % (
        args.minutes, args.seed, len(text) / 1e6, took))
    width = max(len(name) for name, _ in real)
    print("%-*s  %-28s  %s" % (width, "", "recording", "dense sample"))
    for (name, a), (_, b) in zip(real, dense):
        print("%-*s  %-28s  %s" % (width, name, a, b))


if __name__ == "__main__":
    main()
