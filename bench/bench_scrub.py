"""Time of "frame_at" in the ways a viewer scrubs, on a day sample and on dense samples, every frame checked.

    python3 bench/bench_scrub.py                                   # day + dense6h, every mode
    python3 bench/bench_scrub.py --samples day,dense6h,dense24h --cache /tmp
    python3 bench/bench_scrub.py --samples day --modes forward,zoom --positions 40
    python3 bench/bench_scrub.py --samples day --record bench/scrub_reference.json   # after a deliberate output change only

Samples (generated once into --cache and reused; the spec that fits each is written beside it):
  day      the default sample, `sample --minutes 1440` (seed 7, depth 300)
  dense6h  `sample --preset dense --minutes 360`, about 740 level changes a second
  dense24h `sample --preset dense --minutes 1440` (a few GB in memory once loaded)

Modes, all four panels of the sample's spec in every frame:
  reference  the day sample only: --steps cursors, all panels and each panel alone, hashed and
             compared with bench/scrub_reference.json
  forward    --positions cursors from start to end over a fixed from_ts (the window grows)
  jumping    the same cursors in a shuffled order (fixed seed)
  sliding    a one-hour window following the cursor: "set_spec" with from_ts = cursor - 1 h,
             then "frame_at" (both timed)
  zoom       at the end of the data, "set_spec" alternating two price_bin/depth_levels
             settings, then "frame_at" (both timed)
  bucket     the same with two bucket_ms settings
  cold       "load" then the first "frame_at" at the end of the data (the frame timed)

Every frame is compared byte for byte with the frame of a checking handle that holds the same
spec and dataset (one checking handle per distinct spec, made fresh and kept loaded). The time
of each checking handle's first frame at the end of the data is the "fresh handle" figure. One
replay of the window's book is estimated by the frame of a heatmap-only spec with one price
level and one time bucket on a fresh handle, which replays the whole book once and sums a single
cell. Targets are printed beside the figures; a target missed is reported, not an error.
"""

import argparse
import copy
import gc
import hashlib
import json
import os
import random
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, os.pardir, "python"))

import tavrin_ovra  # noqa: E402
from tavrin_ovra import sample  # noqa: E402

KINDS = ["footprint", "book_heatmap", "liquidation_map", "funding_oi_divergence"]
SAMPLES = {
    "day": dict(minutes=1440, preset="default"),
    "dense6h": dict(minutes=360, preset="dense"),
    "dense24h": dict(minutes=1440, preset="dense"),
}
MODES = ["reference", "forward", "jumping", "sliding", "zoom", "bucket", "cold"]
HOUR = 3_600_000


def sample_files(name, cache):
    """The sample's dataset and spec files, generated on first use."""
    kind = SAMPLES[name]
    stem = os.path.join(cache, "ovra-%s-%s-%d-seed%d" % (
        name, kind["preset"], kind["minutes"], sample.DEFAULT_SEED))
    data, spec = stem + ".json", stem + "-spec.json"
    if not os.path.exists(data):
        began = time.perf_counter()
        sample.write_sample(data + ".part", kind["minutes"], preset=kind["preset"])
        os.replace(data + ".part", data)
        print("  generated %s in %.1f s" % (data, time.perf_counter() - began))
    if not os.path.exists(spec):
        with open(spec, "w") as f:
            f.write(sample.sample_spec(preset=kind["preset"]))
    return data, spec


def load_command(path):
    with open(path) as f:
        return '{"cmd":"load","dataset":' + f.read() + "}"


def ok(reply, expected='{"ok":true}'):
    assert reply == expected or reply.startswith('{"ok":true'), reply[:300]
    return reply


class Checker:
    """One loaded handle per distinct spec, made fresh on first use."""

    def __init__(self, load):
        self.load = load
        self.handles = {}
        self.first_frame = {}

    def frame(self, spec, cursor):
        key = json.dumps(spec, sort_keys=True)
        handle = self.handles.get(key)
        command = '{"cmd":"frame_at","ts":%d}' % cursor
        if handle is None:
            handle = self.handles[key] = tavrin_ovra.Ovra(json.dumps(spec))
            ok(handle.command(self.load))
            began = time.perf_counter()
            out = handle.command(command)
            self.first_frame[key] = time.perf_counter() - began
            return out
        return handle.command(command)


class Run:
    """Timed frames of one mode; every frame compared with the checker's."""

    def __init__(self, name):
        self.name, self.times, self.bad, self.frames = name, [], 0, 0

    def step(self, handle, commands, checker, spec, cursor):
        began = time.perf_counter()
        for command in commands[:-1]:
            ok(handle.command(command))
        out = handle.command(commands[-1])
        self.times.append(time.perf_counter() - began)
        self.frames += 1
        if checker is not None and checker.frame(spec, cursor) != out:
            self.bad += 1
        return out

    def stats(self):
        ordered = sorted(self.times)
        p95 = ordered[min(len(ordered) - 1, int(round(0.95 * (len(ordered) - 1))))]
        return statistics.median(ordered) * 1e3, p95 * 1e3, ordered[-1] * 1e3

    def line(self):
        median, p95, worst = self.stats()
        return "  %-9s %4d frames  median %8.1f ms  p95 %8.1f ms  max %8.1f ms  %s" % (
            self.name, self.frames, median, p95, worst,
            "%d DIFFER from a fresh handle" % self.bad if self.bad else "all identical")


def set_spec(spec):
    return json.dumps({"cmd": "set_spec", "spec": spec})


def zoomed(spec, price_factor, depth_levels):
    out = copy.deepcopy(spec)
    for panel in out["panels"]:
        if "price_bin" in panel:
            panel["price_bin"] *= price_factor
        if panel["kind"] == "book_heatmap":
            panel["depth_levels"] = depth_levels
    return out


def rebucketed(spec, factor):
    out = copy.deepcopy(spec)
    for panel in out["panels"]:
        if "bucket_ms" in panel:
            panel["bucket_ms"] *= factor
    return out


def reference_mode(handle, spec, first, last, args):
    """Hashes of the frames of the day sample, as recorded in bench/scrub_reference.json."""
    cursors = [first + (last - first) * i // args.steps for i in range(1, args.steps + 1)]
    reference = {}
    if not args.record and os.path.exists(args.reference):
        with open(args.reference) as f:
            reference = json.load(f)
    recorded, mismatches = {}, 0
    for name in ["all"] + KINDS:
        panels = [p for p in spec["panels"] if name == "all" or p["kind"] == name]
        ok(handle.command(set_spec(dict(spec, panels=panels))))
        run = Run(name)
        hashes = []
        for cursor in cursors:
            out = run.step(handle, ['{"cmd":"frame_at","ts":%d}' % cursor], None, None, cursor)
            hashes.append(hashlib.sha256(out.encode()).hexdigest())
        recorded[name] = dict(zip(map(str, cursors), hashes))
        expected = reference.get(name, {})
        bad = sum(1 for c, h in recorded[name].items() if c in expected and expected[c] != h)
        checked = sum(c in expected for c in recorded[name])
        mismatches += bad
        median, _, worst = run.stats()
        print("  reference %-22s median %7.1f ms  max %7.1f ms  %s" % (
            name, median, worst,
            "CHANGED at %d cursors" % bad if bad else "same hashes (%d checked)" % checked))
    if args.record:
        with open(args.record, "w") as f:
            json.dump(recorded, f, indent=1, sort_keys=True)
            f.write("\n")
        print("  recorded", args.record)
    return mismatches


def bench_sample(name, args):
    data, spec_path = sample_files(name, args.cache)
    with open(spec_path) as f:
        spec = json.load(f)
    load = load_command(data)
    print("%s: %s (%.0f MB)" % (name, data, len(load) / 1e6))
    handle = tavrin_ovra.Ovra(json.dumps(spec))
    began = time.perf_counter()
    print("  load %s %.1f s" % (ok(handle.command(load)), time.perf_counter() - began))
    bounds = json.loads(handle.command('{"cmd":"bounds"}'))
    first, last = bounds["from_ts"], bounds["to_ts"]
    checker = Checker(load) if args.check else None
    modes = args.modes.split(",")
    mismatches = 0
    runs = {}
    if "reference" in modes and name == "day":
        mismatches += reference_mode(handle, spec, first, last, args)

    n = args.positions
    cursors = [first + (last - first) * i // n for i in range(1, n + 1)]
    grown = dict(spec, from_ts=first)
    if "forward" in modes or "jumping" in modes:
        ok(handle.command(set_spec(grown)))
    for mode in ("forward", "jumping"):
        if mode not in modes:
            continue
        order = list(cursors)
        if mode == "jumping":
            random.Random(11).shuffle(order)
        run = runs[mode] = Run(mode)
        for cursor in order:
            run.step(handle, ['{"cmd":"frame_at","ts":%d}' % cursor], checker, grown, cursor)
        print(run.line())

    if "sliding" in modes:
        run = runs["sliding"] = Run("sliding")
        for cursor in cursors:
            window = dict(spec, from_ts=cursor - HOUR)
            run.step(handle, [set_spec(window), '{"cmd":"frame_at","ts":%d}' % cursor],
                     checker, window, cursor)
        print(run.line())

    for mode, specs in (("zoom", [spec, zoomed(spec, 0.5, 120)]),
                        ("bucket", [spec, rebucketed(spec, 2)])):
        if mode not in modes:
            continue
        run = runs[mode] = Run(mode)
        for i in range(args.zooms):
            chosen = specs[i % 2]
            run.step(handle, [set_spec(chosen), '{"cmd":"frame_at","ts":%d}' % last],
                     checker, chosen, last)
        print(run.line())

    if "cold" in modes:
        run = runs["cold"] = Run("cold")
        ok(handle.command(set_spec(spec)))
        for _ in range(args.colds):
            ok(handle.command(load))
            run.step(handle, ['{"cmd":"frame_at","ts":%d}' % last], checker, spec, last)
        print(run.line())
    mismatches += sum(run.bad for run in runs.values())

    # a fresh handle: the full window recomputed; one replay: a one-cell heatmap
    fresh = tavrin_ovra.Ovra(json.dumps(spec))
    ok(fresh.command(load))
    began = time.perf_counter()
    fresh.command('{"cmd":"frame_at","ts":%d}' % last)
    stateless = time.perf_counter() - began
    one_cell = dict(spec, panels=[{"kind": "book_heatmap", "price_bin": 1.0,
                                   "bucket_ms": 10 ** 15, "depth_levels": 1}])
    replayer = tavrin_ovra.Ovra(json.dumps(one_cell))
    ok(replayer.command(load))
    began = time.perf_counter()
    replayer.command('{"cmd":"frame_at","ts":%d}' % last)
    replay = time.perf_counter() - began
    del fresh, replayer, checker
    gc.collect()
    print("  fresh handle, frame at the end %.1f ms; one replay of the book %.1f ms" % (
        stateless * 1e3, replay * 1e3))
    targets(name, runs, stateless * 1e3, replay * 1e3)
    return mismatches


def targets(name, runs, stateless, replay):
    rows = []
    for mode in ("forward", "jumping", "sliding"):
        if mode in runs:
            median, p95, _ = runs[mode].stats()
            rows.append(("%s p95 <= 16 ms" % mode, p95, p95 <= 16))
            if name == "day":
                rows.append(("%s median <= 5 ms" % mode, median, median <= 5))
    if "zoom" in runs:
        p95 = runs["zoom"].stats()[1]
        rows.append(("zoom p95 <= 50 ms", p95, p95 <= 50))
    cold = runs["cold"].stats()[0] if "cold" in runs else None
    if "bucket" in runs and cold is not None:
        median = runs["bucket"].stats()[0]
        rows.append(("bucket median <= cold median (%.1f ms)" % cold, median, median <= cold))
    if cold is not None:
        rows.append(("cold <= fresh handle (%.1f ms)" % stateless, cold, cold <= stateless * 1.05))
        rows.append(("cold <= 2 x one replay (%.1f ms)" % (2 * replay), cold, cold <= 2 * replay))
    for text, value, passed in rows:
        print("  target %-46s %8.1f ms  %s" % (text, value, "pass" if passed else "FAIL"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--samples", default="day,dense6h", help="comma-separated: " + ",".join(SAMPLES))
    parser.add_argument("--modes", default=",".join(MODES), help="comma-separated: " + ",".join(MODES))
    parser.add_argument("--cache", default="/tmp", help="folder for the generated samples")
    parser.add_argument("--positions", type=int, default=120, help="cursors of forward, jumping, sliding")
    parser.add_argument("--zooms", type=int, default=20, help="frames of zoom and of bucket")
    parser.add_argument("--colds", type=int, default=3, help="loads of cold")
    parser.add_argument("--no-check", dest="check", action="store_false",
                        help="skip the comparison with fresh handles (the hashes are still checked)")
    parser.add_argument("--steps", type=int, default=20, help="cursors of the reference mode")
    parser.add_argument("--reference", default=os.path.join(HERE, "scrub_reference.json"),
                        help="hashes of the reference mode (missing file: no check)")
    parser.add_argument("--record", metavar="FILE", help="write the reference hashes here instead of checking")
    args = parser.parse_args()
    mismatches = 0
    for name in args.samples.split(","):
        mismatches += bench_sample(name, args)
    sys.exit(1 if mismatches else 0)


if __name__ == "__main__":
    main()
