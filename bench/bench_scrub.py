"""Time of "frame_at" in the ways a viewer scrubs, on a day sample and on dense samples, every frame checked.

    python3 bench/bench_scrub.py                                   # day + dense6h, every mode
    python3 bench/bench_scrub.py --samples day,dense6h,dense24h --cache /tmp/ovra-samples
    python3 bench/bench_scrub.py --samples day --modes forward,zoom --positions 40
    python3 bench/bench_scrub.py --samples day --breakdown        # each mode also per panel alone
    python3 bench/bench_scrub.py --samples day --record bench/scrub_reference.json   # after a deliberate output change only

Samples (generated once into --cache and reused; the spec that fits each is written beside it):
  day      the default sample, `sample --minutes 1440` (seed 7, depth 300)
  dense6h  `sample --preset dense --minutes 360`, about 740 level changes a second
  dense24h `sample --preset dense --minutes 1440` (a few GB in memory once loaded)

Modes, all four panels of the sample's spec in every frame; each mode starts on the handle
freshly loaded (the load is not timed, every frame is, the first included):
  reference  the day sample only: --steps cursors, all panels and each panel alone, hashed and
             compared with bench/scrub_reference.json
  forward    --positions cursors from start to end over a fixed from_ts (the window grows)
  jumping    the same cursors in a shuffled order (fixed seed)
  sliding    a one-hour window following the cursor: "set_spec" with from_ts = cursor - 1 h,
             then "frame_at" (both timed)
  zoom       at the end of the data, after one frame there (not timed), "set_spec"
             alternating two price_bin/depth_levels settings, then "frame_at" (both timed); the
             first is the new setting's first frame, the others find both in the caches
  bucket     the same with two bucket_ms settings (its target: the max, the new setting's
             first frame, no slower than cold)
  cold       "load" then the first "frame_at" at the end of the data (the frame timed); then
             "again": the same frame --zooms times more, the cost of putting a frame's text
             together and handing it over

With --breakdown, forward, jumping and sliding run once more for each panel alone (and once
with every panel but the heatmap), to show which panel the frame time goes to; panels run
side by side on the worker pool, so the frame is about its slowest panel, not their sum.
Beside the wall-clock figures, "cpu" gives the median and p95 processor time of a frame over
all threads of the process: on a shared machine it varies less than the wall clock.

Every frame is checked: its text, and each of its panel texts, is compared by SHA-256 with the
frame of a checking handle that keeps nothing between frames (TAVRIN_OVRA_CACHE_BYTES=0, so
each of its frames is computed from nothing, as on a fresh handle) for the same spec and
cursor (with --check-road reversed, a checking handle that keeps its caches and answers each
mode's frames in reverse order before the mode runs: another history of the same caches, at a
fraction of the cost on a big sample). The hashes are kept in the cache folder beside the
sample (`*-checks.json`, `*-checks-reversed.json`), so a second run checks against them
without recomputing; --recheck recomputes them. The checking
handle's frame at the end of the data is the "nothing kept" figure; one replay of the window's
book is estimated by the frame of a heatmap-only spec with one price level and one time bucket
on the same handle, which replays the whole book once and sums a single cell. Targets are
printed beside the figures; a target missed is reported, not an error; a frame that differs
makes the exit status 1.
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
SCRUBS = ["forward", "jumping", "sliding"]
HOUR = 3_600_000
CACHE_ENV = "TAVRIN_OVRA_CACHE_BYTES"


def say(*parts):
    print(*parts, flush=True)


def sample_files(name, cache):
    """The sample's dataset and spec files, generated on first use."""
    kind = SAMPLES[name]
    stem = os.path.join(cache, "ovra-%s-%s-%d-seed%d" % (
        name, kind["preset"], kind["minutes"], sample.DEFAULT_SEED))
    data, spec = stem + ".json", stem + "-spec.json"
    if not os.path.exists(data):
        began = time.perf_counter()
        part = "%s.%d.part" % (data, os.getpid())
        sample.write_sample(part, kind["minutes"], preset=kind["preset"])
        os.replace(part, data)
        say("  generated %s in %.1f s" % (data, time.perf_counter() - began))
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


def resident_mb():
    """The resident memory of this process, MB (Linux; 0 elsewhere)."""
    try:
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) / 1024
    except OSError:
        pass
    return 0.0


def frame_at(cursor):
    return '{"cmd":"frame_at","ts":%d}' % cursor


def set_spec(spec):
    return json.dumps({"cmd": "set_spec", "spec": spec})


def digest(text):
    return hashlib.sha256(text.encode()).hexdigest()


def panel_texts(frame):
    """The texts of the panel objects of a frame text, in order. Panel texts hold no
    brackets inside strings (their only strings are kind and side words)."""
    marker = ',"panels":['
    at = frame.index(marker) + len(marker)
    texts, depth, begin = [], 0, at
    for i in range(at, len(frame) - 2):
        c = frame[i]
        if c in "[{":
            depth += 1
        elif c in "]}":
            depth -= 1
        elif c == "," and depth == 0:
            texts.append(frame[begin:i])
            begin = i + 1
    texts.append(frame[begin:len(frame) - 2])
    return texts


class Checker:
    """Hashes of the frames of a checking handle, for a spec with all panels; a frame of some
    of its panels is checked panel by panel. Kept in `path`. The checking handle keeps nothing
    between frames (road "nothing"), or keeps its caches and answers each mode's frames in
    reverse order before the mode runs (road "reversed")."""

    def __init__(self, load, path, data, recheck, road="nothing"):
        self.load, self.path, self.handle, self.road = load, path, None, road
        stat = os.stat(data)
        self.stamp = "%d-%d" % (stat.st_size, int(stat.st_mtime))
        self.known, self.computed, self.checked = {}, 0, 0
        if road != "nothing":
            # what a handle that keeps nothing answered is good for any road
            self.path = path.replace("-checks.json", "-checks-%s.json" % road)
            self.read(path, recheck)
        self.read(self.path, recheck)
        self.spec_text = None

    def read(self, path, recheck):
        if not recheck and os.path.exists(path):
            with open(path) as f:
                kept = json.load(f)
            if kept.get("stamp") == self.stamp:
                self.known.update(kept["frames"])

    def save(self):
        with open(self.path + ".part", "w") as f:
            json.dump({"stamp": self.stamp, "frames": self.known}, f, indent=0, sort_keys=True)
        os.replace(self.path + ".part", self.path)

    def checking_handle(self):
        """The checking handle, loaded; on road "nothing" its first frame reads a cache bound of 0."""
        if self.handle is None:
            self.handle = tavrin_ovra.Ovra("")
            ok(self.handle.command(self.load))
        return self.handle

    def timed_frame(self, spec, cursor):
        """A frame of the checking handle and its time."""
        handle = self.checking_handle()
        text = json.dumps(spec, sort_keys=True)
        if text != self.spec_text:
            ok(handle.command(set_spec(spec)))
            self.spec_text = text
        saved = os.environ.get(CACHE_ENV)
        if self.road == "nothing":
            os.environ[CACHE_ENV] = "0"
        try:
            began = time.perf_counter()
            out = handle.command(frame_at(cursor))
            return out, time.perf_counter() - began
        finally:
            if saved is None:
                os.environ.pop(CACHE_ENV, None)
            else:
                os.environ[CACHE_ENV] = saved

    def expected(self, full_spec, cursor):
        key = "%s@%d" % (json.dumps(full_spec, sort_keys=True), cursor)
        if key not in self.known:
            out, _ = self.timed_frame(full_spec, cursor)
            self.known[key] = {"frame": digest(out), "panels": [digest(t) for t in panel_texts(out)]}
            self.computed += 1
        return self.known[key]

    def prepare(self, pairs):
        """The hashes of the (full spec, cursor) pairs of a mode not known yet, the last first."""
        for full_spec, cursor in reversed(pairs):
            self.expected(full_spec, cursor)

    def same(self, full_spec, picked, cursor, out):
        """Whether `out` is the frame at `cursor` of full_spec's panels at the indexes `picked`."""
        expected = self.expected(full_spec, cursor)
        self.checked += 1
        if len(picked) == len(full_spec["panels"]):
            return digest(out) == expected["frame"]
        texts = panel_texts(out)
        return len(texts) == len(picked) and all(
            digest(t) == expected["panels"][i] for t, i in zip(texts, picked))


class Run:
    """Timed frames of one mode; every frame checked."""

    def __init__(self, name):
        self.name, self.times, self.cpu, self.bad, self.frames = name, [], [], 0, 0

    def step(self, handle, commands, checker, full_spec, picked, cursor):
        began, began_cpu = time.perf_counter(), time.process_time()
        for command in commands[:-1]:
            ok(handle.command(command))
        out = handle.command(commands[-1])
        self.times.append(time.perf_counter() - began)
        self.cpu.append(time.process_time() - began_cpu)
        self.frames += 1
        if checker is not None and not checker.same(full_spec, picked, cursor, out):
            self.bad += 1
        return out

    def stats(self):
        ordered = sorted(self.times)
        p95 = ordered[min(len(ordered) - 1, int(round(0.95 * (len(ordered) - 1))))]
        return statistics.median(ordered) * 1e3, p95 * 1e3, ordered[-1] * 1e3

    def cpu_stats(self):
        ordered = sorted(self.cpu)
        p95 = ordered[min(len(ordered) - 1, int(round(0.95 * (len(ordered) - 1))))]
        return statistics.median(ordered) * 1e3, p95 * 1e3

    def line(self):
        median, p95, worst = self.stats()
        return "  %-34s %4d frames  median %7.1f ms  p95 %7.1f ms  max %7.1f ms  cpu %6.1f / %6.1f ms  %s" % (
            self.name, self.frames, median, p95, worst, *self.cpu_stats(),
            "%d DIFFER" % self.bad if self.bad else "all identical")


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


def reference_mode(handle, load, spec, first, last, args):
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
        ok(handle.command(load))
        run = Run(name)
        hashes = []
        for cursor in cursors:
            out = run.step(handle, [frame_at(cursor)], None, None, None, cursor)
            hashes.append(digest(out))
        recorded[name] = dict(zip(map(str, cursors), hashes))
        expected = reference.get(name, {})
        bad = sum(1 for c, h in recorded[name].items() if c in expected and expected[c] != h)
        checked = sum(c in expected for c in recorded[name])
        mismatches += bad
        median, _, worst = run.stats()
        say("  reference %-22s median %7.1f ms  max %7.1f ms  %s" % (
            name, median, worst,
            "CHANGED at %d cursors" % bad if bad else "same hashes (%d checked)" % checked))
    if args.record:
        with open(args.record, "w") as f:
            json.dump(recorded, f, indent=1, sort_keys=True)
            f.write("\n")
        say("  recorded", args.record)
    return mismatches


def panel_sets(spec, breakdown):
    """(label, indexes of the spec's panels) to run the scrubbing modes with."""
    sets = [("all panels", list(range(len(spec["panels"]))))]
    if breakdown:
        kinds = [p["kind"] for p in spec["panels"]]
        sets.append(("all but the heatmap", [i for i, k in enumerate(kinds) if k != "book_heatmap"]))
        sets += [(kind, [i for i, k in enumerate(kinds) if k == kind]) for kind in KINDS if kind in kinds]
    return sets


def scrub_modes(handle, load, spec, checker, first, cursors, modes, breakdown, memory):
    runs = {}
    for label, picked in panel_sets(spec, breakdown):
        def only(full):
            return dict(full, panels=[full["panels"][i] for i in picked])
        grown = dict(spec, from_ts=first)
        for mode in SCRUBS:
            if mode not in modes:
                continue
            order = list(cursors)
            if mode == "jumping":
                random.Random(11).shuffle(order)
            if checker is not None:
                checker.prepare([(dict(spec, from_ts=c - HOUR) if mode == "sliding" else grown, c) for c in order])
            ok(handle.command(set_spec(only(grown))))
            ok(handle.command(load))
            run = Run(mode if label == "all panels" else "%s, %s" % (mode, label))
            for cursor in order:
                if mode == "sliding":
                    window = dict(spec, from_ts=cursor - HOUR)
                    run.step(handle, [set_spec(only(window)), frame_at(cursor)], checker, window, picked, cursor)
                else:
                    run.step(handle, [frame_at(cursor)], checker, grown, picked, cursor)
            say(run.line() + ("  resident %.0f MB" % resident_mb() if memory else ""))
            runs[(mode, label)] = run
        if checker is not None:
            checker.save()
    return runs


def setting_modes(handle, load, spec, checker, last, modes, args):
    runs = {}
    every = list(range(len(spec["panels"])))
    for mode, specs in (("zoom", [spec, zoomed(spec, 0.5, 120)]),
                        ("bucket", [spec, rebucketed(spec, 2)])):
        if mode not in modes:
            continue
        # The frame shown before the setting changes (not timed: that is the cold mode).
        ok(handle.command(set_spec(spec)))
        ok(handle.command(load))
        shown = handle.command(frame_at(last))
        assert shown.startswith('{"symbol"'), shown[:300]
        run = runs[mode] = Run(mode)
        for i in range(args.zooms):
            chosen = specs[(i + 1) % 2]
            run.step(handle, [set_spec(chosen), frame_at(last)], checker, chosen, every, last)
        say(run.line())
    if "cold" in modes:
        run = runs["cold"] = Run("cold")
        ok(handle.command(set_spec(spec)))
        for _ in range(args.colds):
            ok(handle.command(load))
            run.step(handle, [frame_at(last)], checker, spec, every, last)
        say(run.line())
        # The same frame again: nothing to compute, only the frame text to
        # put together and hand over.
        run = runs["again"] = Run("again")
        for _ in range(args.zooms):
            run.step(handle, [frame_at(last)], checker, spec, every, last)
        say(run.line())
    return runs


def bench_sample(name, args):
    data, spec_path = sample_files(name, args.cache)
    with open(spec_path) as f:
        spec = json.load(f)
    load = load_command(data)
    say("%s: %s (%.0f MB)" % (name, data, len(load) / 1e6))
    handle = tavrin_ovra.Ovra(json.dumps(spec))
    began = time.perf_counter()
    say("  load %s %.1f s" % (ok(handle.command(load)), time.perf_counter() - began)
        + ("  resident %.0f MB" % resident_mb() if args.memory else ""))
    bounds = json.loads(handle.command('{"cmd":"bounds"}'))
    first, last = bounds["from_ts"], bounds["to_ts"]
    checker = Checker(load, os.path.splitext(data)[0] + "-checks.json", data, args.recheck,
                      args.check_road) if args.check else None
    modes = args.modes.split(",")
    mismatches = 0
    if "reference" in modes and name == "day":
        mismatches += reference_mode(handle, load, spec, first, last, args)

    n = args.positions
    cursors = [first + (last - first) * i // n for i in range(1, n + 1)]
    runs = scrub_modes(handle, load, spec, checker, first, cursors, modes, args.breakdown, args.memory)
    runs.update(setting_modes(handle, load, spec, checker, last, modes, args))
    mismatches += sum(run.bad for run in runs.values())
    del handle
    gc.collect()

    # nothing kept: the frame at the end computed from nothing; one replay: a one-cell heatmap
    if checker is not None and checker.road == "nothing":
        scratch = checker
    else:
        if checker is not None:
            checker.handle = None
            gc.collect()
        scratch = Checker(load, os.devnull, data, True)
    _, nothing_kept = scratch.timed_frame(spec, last)
    one_cell = dict(spec, panels=[{"kind": "book_heatmap", "price_bin": 1.0,
                                   "bucket_ms": 10 ** 15, "depth_levels": 1}])
    _, replay = scratch.timed_frame(one_cell, last)
    if checker is not None:
        checker.save()
        say("  checked %d frames against hashes kept in %s (%d computed this run by a handle that %s)"
            % (checker.checked, os.path.basename(checker.path), checker.computed,
               "keeps nothing" if checker.road == "nothing" else "answered them in reverse order"))
    del scratch, checker
    gc.collect()
    say("  nothing kept, frame at the end %.1f ms; one replay of the book %.1f ms" % (
        nothing_kept * 1e3, replay * 1e3))
    targets(name, runs, nothing_kept * 1e3, replay * 1e3)
    return mismatches


def targets(name, runs, nothing_kept, replay):
    rows = []
    for mode in SCRUBS:
        for label in ("all panels", "all but the heatmap"):
            run = runs.get((mode, label))
            if run is None:
                continue
            median, p95, _ = run.stats()
            what = mode if label == "all panels" else "%s (no heatmap)" % mode
            rows.append(("%s p95 <= 16 ms" % what, p95, p95 <= 16))
            if name == "day":
                rows.append(("%s median <= 5 ms" % what, median, median <= 5))
    if "zoom" in runs:
        p95 = runs["zoom"].stats()[1]
        rows.append(("zoom p95 <= 50 ms", p95, p95 <= 50))
    cold = runs["cold"].stats()[0] if "cold" in runs else None
    if "bucket" in runs and cold is not None:
        worst = runs["bucket"].stats()[2]
        rows.append(("bucket max <= cold median (%.1f ms)" % cold, worst, worst <= cold))
    if cold is not None:
        rows.append(("cold <= nothing kept (%.1f ms)" % nothing_kept, cold, cold <= nothing_kept * 1.05))
        rows.append(("cold <= 2 x one replay (%.1f ms)" % (2 * replay), cold, cold <= 2 * replay))
    for text, value, passed in rows:
        say("  target %-46s %8.1f ms  %s" % (text, value, "pass" if passed else "FAIL"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--samples", default="day,dense6h", help="comma-separated: " + ",".join(SAMPLES))
    parser.add_argument("--modes", default=",".join(MODES), help="comma-separated: " + ",".join(MODES))
    parser.add_argument("--cache", default="/tmp", help="folder for the generated samples and their checks")
    parser.add_argument("--positions", type=int, default=120, help="cursors of forward, jumping, sliding")
    parser.add_argument("--zooms", type=int, default=20, help="frames of zoom and of bucket")
    parser.add_argument("--colds", type=int, default=3, help="loads of cold")
    parser.add_argument("--breakdown", action="store_true",
                        help="run forward, jumping and sliding also per panel alone and without the heatmap")
    parser.add_argument("--memory", action="store_true",
                        help="print the resident memory after the load and after each scrubbing mode "
                             "(with --no-check: the handle's dataset and caches, and the load text)")
    parser.add_argument("--no-check", dest="check", action="store_false",
                        help="skip the comparison with the frames of a handle that keeps nothing")
    parser.add_argument("--check-road", choices=["nothing", "reversed"], default="nothing",
                        help="checking handle: keeps nothing between frames (default), or keeps its caches "
                             "and answers each mode's frames in reverse order (far cheaper on a big sample)")
    parser.add_argument("--recheck", action="store_true", help="recompute the kept check hashes")
    parser.add_argument("--steps", type=int, default=20, help="cursors of the reference mode")
    parser.add_argument("--reference", default=os.path.join(HERE, "scrub_reference.json"),
                        help="hashes of the reference mode (missing file: no check)")
    parser.add_argument("--record", metavar="FILE", help="write the reference hashes here instead of checking")
    args = parser.parse_args()
    mismatches = 0
    for name in args.samples.split(","):
        mismatches += bench_sample(name, args)
    say("every frame identical" if not mismatches else "%d FRAMES DIFFER" % mismatches)
    sys.exit(1 if mismatches else 0)


if __name__ == "__main__":
    main()
