"""Timings of the newcomer path: generate sample data, load it, frame it, scrub, draw.

    python3 bench/bench_sample.py [--minutes 60] [--seed 7] [--repeat 5]

Each row also says whether the answer was right (record count, four non-empty panels),
so a fast wrong answer does not pass for a result.
"""

import argparse
import json
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), os.pardir, "python"))

from tavrin_ovra import Ovra  # noqa: E402
from tavrin_ovra import sample  # noqa: E402


def timed(repeat, step):
    times, answer = [], None
    for _ in range(repeat):
        began = time.perf_counter()
        answer = step()
        times.append(time.perf_counter() - began)
    return min(times), statistics.median(times), answer


def row(name, best, median, ok, note=""):
    print(f"{name:<24} best {best * 1000:9.1f} ms   median {median * 1000:9.1f} ms   "
          f"{'ok' if ok else 'WRONG'}  {note}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--minutes", type=float, default=60.0)
    parser.add_argument("--seed", type=int, default=sample.DEFAULT_SEED)
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()

    best, median, records = timed(1, lambda: sample.generate_sample(args.minutes, args.seed))
    count = sum(len(rows) for rows in records.values())
    row("generate", best, median, count > 0, f"{count:,} records")
    best, median, text = timed(1, lambda: json.dumps(records, separators=(",", ":")))
    row("to JSON", best, median, len(text) > 0, f"{len(text) / 1e6:.1f} MB")

    handle = Ovra("")
    handle.command('{"cmd":"set_spec","spec":' + sample.sample_spec() + "}")
    command = '{"cmd":"load","dataset":' + text + "}"
    best, median, reply = timed(args.repeat, lambda: handle.command(command))
    row("load", best, median, reply == '{"ok":true,"loaded":%d}' % count)

    def full(frame_text):
        panels = json.loads(frame_text)["panels"]
        return (len(panels) == 4 and all(p["price_bins"] if p["kind"] == "footprint" else
                                         p["events"] if p["kind"] == "liquidation_map" else
                                         p["time"] for p in panels))

    best, median, frame = timed(args.repeat, lambda: handle.command('{"cmd":"frame"}'))
    row("frame (end)", best, median, full(frame), f"{len(frame) / 1000:.1f} kB")

    start = sample.DEFAULT_START_TS
    cursors = [start + int(args.minutes * 60_000 * k / 10) for k in range(1, 11)]
    scrub = ['{"cmd":"frame_at","ts":%d}' % ts for ts in cursors]
    best, median, frames = timed(args.repeat, lambda: [handle.command(c) for c in scrub])
    row("scrub 10 cursors", best, median, all(full(f) for f in frames),
        f"{best * 100:.1f} ms per frame")

    try:
        from tavrin_ovra import plot
    except ImportError:
        print("render                  (matplotlib not installed)")
        return
    out = "/tmp/bench_sample.png"
    best, median, _ = timed(2, lambda: plot.render_frame(frame, out))
    row("render PNG", best, median, os.path.getsize(out) > 0, out)


if __name__ == "__main__":
    main()
