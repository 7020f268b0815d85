"""Warm footprint frames while scrubbing, on one handle: forward (fixed start,
the window grows), jumping (the same cursors shuffled) and sliding (a one-hour
window following the cursor). Every --check-th frame is compared with a fresh
handle's frame for the same spec and cursor.

    PYTHONPATH=python python3 -m tavrin_ovra sample -o /tmp/day.json --minutes 1440 --spec /tmp/day-spec.json
    PYTHONPATH=python python3 bench/bench_footprint_scrub.py --steps 120
"""

import argparse
import json
import os
import random
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, os.pardir, "python"))

import tavrin_ovra  # noqa: E402

HOUR_MS = 3_600_000


def timed(handle, text):
    start = time.perf_counter()
    out = handle.command(text)
    return time.perf_counter() - start, out


def report(name, times):
    times = sorted(times)
    p95 = times[min(len(times) - 1, int(round(0.95 * (len(times) - 1))))]
    print("%-9s median %7.2f ms  p95 %7.2f ms  max %7.2f ms" % (
        name, statistics.median(times) * 1e3, p95 * 1e3, times[-1] * 1e3))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--dataset", default="/tmp/day.json")
    parser.add_argument("--spec", default="/tmp/day-spec.json")
    parser.add_argument("--steps", type=int, default=120)
    parser.add_argument("--check", type=int, default=40, help="compare every n-th frame with a fresh handle")
    args = parser.parse_args()

    with open(args.dataset) as f:
        load = '{"cmd":"load","dataset":' + f.read() + "}"
    with open(args.spec) as f:
        spec = json.load(f)
    spec = dict(spec, panels=[p for p in spec["panels"] if p["kind"] == "footprint"])
    handle = tavrin_ovra.Ovra(json.dumps(spec))
    handle.command(load)
    fresh = tavrin_ovra.Ovra(json.dumps(spec))
    fresh.command(load)
    del load
    bounds = json.loads(handle.command('{"cmd":"bounds"}'))
    first, last = bounds["from_ts"], bounds["to_ts"]
    cursors = [first + (last - first) * i // args.steps for i in range(1, args.steps + 1)]
    jumping = cursors[:]
    random.Random(1).shuffle(jumping)

    checked = 0

    def run(name, points, spec_of):
        nonlocal checked
        times = []
        for k, ts in enumerate(points):
            s = spec_of(ts)
            if s is not None:
                handle.command(json.dumps({"cmd": "set_spec", "spec": s}))
            text = '{"cmd":"frame_at","ts":%d}' % ts
            elapsed, out = timed(handle, text)
            times.append(elapsed)
            if k % args.check == 0:
                fresh.command(json.dumps({"cmd": "set_spec", "spec": s or spec}))
                assert fresh.command(text) == out, (name, ts)
                checked += 1
        report(name, times)

    handle.command('{"cmd":"frame_at","ts":%d}' % last)  # cold frame: labels every trade once
    run("forward", cursors, lambda ts: None)
    run("jumping", jumping, lambda ts: None)
    run("sliding", cursors, lambda ts: dict(spec, from_ts=ts - HOUR_MS))
    print("frames identical to a fresh handle's (%d checked)" % checked)


if __name__ == "__main__":
    main()
