"""Time of one frame per panel kind through Ovra.command, on a synthetic dataset.

    python3 bench/bench_panels.py --trades 1000000 --book 100000 --levels 20

Each panel kind gets a spec of its own; every timing is the best of --repeat
frames at the dataset's end (the whole dataset in the window) and at its
middle, as a user scrubbing through time would ask for them.
"""

import argparse
import json
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), os.pardir, "python"))
sys.path.insert(0, os.path.dirname(__file__))

import gen_dataset  # noqa: E402
import tavrin_ovra  # noqa: E402

PANELS = {
    "footprint": {"kind": "footprint", "price_bin": 0.5},
    "book_heatmap": {"kind": "book_heatmap", "price_bin": 0.5, "bucket_ms": 60000, "depth_levels": 40},
    "book_heatmap_1s": {"kind": "book_heatmap", "price_bin": 0.5, "bucket_ms": 1000, "depth_levels": 100},
    "liquidation_map": {"kind": "liquidation_map", "price_bin": 0.5},
    "funding_oi_divergence": {"kind": "funding_oi_divergence", "bucket_ms": 60000},
}


def best_of(repeat, fn):
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        result = fn()
        best = min(best, time.perf_counter() - start)
    return best, result


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    for series, default in (("trades", 200_000), ("book", 20_000), ("liquidations", 5_000),
                            ("funding", 100), ("oi", 5_000), ("candles", 5_000)):
        parser.add_argument("--" + series, type=int, default=default, metavar="N")
    parser.add_argument("--levels", type=int, default=20)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()

    dataset = gen_dataset.generate(0, args.candles, args.trades, args.book, args.levels, args.funding,
                                   args.oi, args.liquidations)
    text = json.dumps({"cmd": "load", "dataset": dataset}, separators=(",", ":"))
    bounds = None
    for name, panel in PANELS.items():
        handle = tavrin_ovra.Ovra("")
        spec = {"dataset_ref": "bench", "symbol": "BENCH", "panels": [panel]}
        assert handle.command(json.dumps({"cmd": "set_spec", "spec": spec})).startswith('{"ok":true')
        assert handle.command(text).startswith('{"ok":true')
        bounds = bounds or json.loads(handle.command('{"cmd":"bounds"}'))
        middle = (bounds["from_ts"] + bounds["to_ts"]) // 2
        end_time, end_text = best_of(args.repeat, lambda: handle.command('{"cmd":"frame"}'))
        mid_time, _ = best_of(args.repeat, lambda: handle.command('{"cmd":"frame_at","ts":%d}' % middle))
        assert end_text.startswith('{"symbol"'), end_text[:200]
        print("%-24s end %8.1f ms   middle %8.1f ms   %9d bytes" % (name, end_time * 1e3, mid_time * 1e3,
                                                                     len(end_text)))


if __name__ == "__main__":
    main()
