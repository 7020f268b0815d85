"""Time of "frame_at" through Ovra.command while scrubbing over a loaded dataset.

    python3 bench/bench_frame.py                      # generated dataset, all four panel kinds
    RAYON_NUM_THREADS=1 python3 bench/bench_frame.py  # the same on one thread
    python3 bench/bench_frame.py /tmp/big.json --panels footprint,liquidation_map

The cursor walks from the first to the last timestamp in --steps steps (the
window grows with it, as when a user scrubs forwards); every frame text is
hashed, so runs with different pool sizes can be compared byte for byte.
"""

import argparse
import hashlib
import json
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), os.pardir, "python"))
sys.path.insert(0, os.path.dirname(__file__))

import gen_dataset  # noqa: E402
import tavrin_ovra  # noqa: E402

PANEL_CONFIGS = {
    "footprint": {"kind": "footprint", "price_bin": 1.0},
    "book_heatmap": {"kind": "book_heatmap", "price_bin": 1.0, "bucket_ms": 60000, "depth_levels": 40},
    "liquidation_map": {"kind": "liquidation_map", "price_bin": 1.0},
    "funding_oi_divergence": {"kind": "funding_oi_divergence", "bucket_ms": 60000},
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("file", nargs="?", help="dataset text made by gen_dataset.py")
    parser.add_argument("--panels", default=",".join(PANEL_CONFIGS), help="comma-separated panel kinds")
    parser.add_argument("--steps", type=int, default=50, help="cursor positions")
    args = parser.parse_args()

    if args.file:
        with open(args.file) as f:
            text = f.read()
    else:
        text = gen_dataset.dataset_text(gen_dataset.generate(
            candles=2_000, trades=200_000, book=5_000, levels=20, funding=300, oi=2_000, liquidations=5_000))
    panels = [PANEL_CONFIGS[kind] for kind in args.panels.split(",")]
    spec = {"dataset_ref": "bench", "symbol": "BENCH", "from_ts": None, "to_ts": None, "panels": panels}

    handle = tavrin_ovra.Ovra("")
    assert handle.command('{"cmd":"set_spec","spec":%s}' % json.dumps(spec)) == '{"ok":true}'
    print("load:", handle.command('{"cmd":"load","dataset":' + text + "}"))
    bounds = json.loads(handle.command('{"cmd":"bounds"}'))
    first, last = bounds["from_ts"], bounds["to_ts"]
    cursors = [first + (last - first) * i // max(args.steps - 1, 1) for i in range(args.steps)]

    digest = hashlib.sha256()
    times = []
    size = 0
    for cursor in cursors:
        command = '{"cmd":"frame_at","ts":%d}' % cursor
        start = time.perf_counter()
        frame = handle.command(command)
        times.append(time.perf_counter() - start)
        size += len(frame)
        digest.update(frame.encode())
    times.sort()
    print(f"panels: {args.panels}; RAYON_NUM_THREADS={os.environ.get('RAYON_NUM_THREADS', '(unset)')}")
    print(f"{len(times)} frames: median {times[len(times) // 2] * 1e3:.2f} ms, "
          f"max {times[-1] * 1e3:.2f} ms, total {sum(times):.3f} s, {size / 2**20:.1f} MiB of text")
    print("sha256 of all frames:", digest.hexdigest())


if __name__ == "__main__":
    main()
