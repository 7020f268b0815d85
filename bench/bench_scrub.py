"""Time of "frame_at" while scrubbing through a whole day, per panel set, with a byte-for-byte check.

    PYTHONPATH=python python3 -m tavrin_ovra sample -o /tmp/day.json --minutes 1440 --spec /tmp/day-spec.json
    python3 bench/bench_scrub.py                                  # times, checked against bench/scrub_reference.json
    python3 bench/bench_scrub.py --record bench/scrub_reference.json   # after a deliberate output change only
    python3 bench/bench_scrub.py --sets book_heatmap --steps 5    # a quicker look at one panel

The cursor visits --steps evenly spaced points from the first timestamp to the
last, first with every panel of the spec, then with each panel kind alone.
Every frame text is hashed (SHA-256); the hashes are compared with the
reference file, so a speed-up that changes a single output byte is reported.
The reference belongs to the sample above (seed 7, 1440 minutes, depth 300).
"""

import argparse
import hashlib
import json
import os
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, os.pardir, "python"))

import tavrin_ovra  # noqa: E402

KINDS = ["footprint", "book_heatmap", "liquidation_map", "funding_oi_divergence"]


def scrub(handle, spec, kinds, cursors):
    panels = [p for p in spec["panels"] if kinds is None or p["kind"] in kinds]
    reply = handle.command(json.dumps({"cmd": "set_spec", "spec": dict(spec, panels=panels)}))
    assert reply == '{"ok":true}', reply
    times, hashes, size = [], [], 0
    for cursor in cursors:
        command = '{"cmd":"frame_at","ts":%d}' % cursor
        start = time.perf_counter()
        out = handle.command(command)
        times.append(time.perf_counter() - start)
        hashes.append(hashlib.sha256(out.encode()).hexdigest())
        size = len(out)
    return times, hashes, size


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--dataset", default="/tmp/day.json")
    parser.add_argument("--spec", default="/tmp/day-spec.json")
    parser.add_argument("--steps", type=int, default=20, help="cursor positions")
    parser.add_argument("--sets", default="all," + ",".join(KINDS), help="comma-separated: all and/or panel kinds")
    parser.add_argument("--reference", default=os.path.join(HERE, "scrub_reference.json"),
                        help="hashes to check against (missing file: no check)")
    parser.add_argument("--record", metavar="FILE", help="write the frame hashes here instead of checking")
    args = parser.parse_args()

    with open(args.dataset) as f:
        text = f.read()
    with open(args.spec) as f:
        spec = json.load(f)
    handle = tavrin_ovra.Ovra(json.dumps(spec))
    start = time.perf_counter()
    reply = handle.command('{"cmd":"load","dataset":' + text + "}")
    print("load %s %.2f s" % (reply, time.perf_counter() - start))
    del text
    bounds = json.loads(handle.command('{"cmd":"bounds"}'))
    first, last = bounds["from_ts"], bounds["to_ts"]
    cursors = [first + (last - first) * i // args.steps for i in range(1, args.steps + 1)]

    reference = {}
    if not args.record and os.path.exists(args.reference):
        with open(args.reference) as f:
            reference = json.load(f)
    recorded = {}
    mismatches = 0
    for name in args.sets.split(","):
        kinds = None if name == "all" else [name]
        times, hashes, size = scrub(handle, spec, kinds, cursors)
        recorded[name] = dict(zip(map(str, cursors), hashes))
        expected = reference.get(name, {})
        bad = [c for c, h in recorded[name].items() if c in expected and expected[c] != h]
        checked = sum(c in expected for c in recorded[name])
        mismatches += len(bad)
        print("%-22s median %7.1f ms  max %7.1f ms  last frame %5d kB  %s" % (
            name, statistics.median(times) * 1e3, max(times) * 1e3, size // 1000,
            "CHANGED at %d cursors" % len(bad) if bad else "same (%d checked)" % checked))

    if args.record:
        with open(args.record, "w") as f:
            json.dump(recorded, f, indent=1, sort_keys=True)
            f.write("\n")
        print("recorded", args.record)
    sys.exit(1 if mismatches else 0)


if __name__ == "__main__":
    main()
