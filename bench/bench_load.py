"""Time and peak memory of "load" through Ovra.command, with the answer checked.

    python3 bench/gen_dataset.py --trades 1000000 --book 100000 --levels 20 --out /tmp/big.json
    /usr/bin/time -v python3 bench/bench_load.py /tmp/big.json

Without a file it generates a smaller dataset in memory. The process's peak
resident size (ru_maxrss) is printed before and after the load, so the growth
the load causes can be read without /usr/bin/time; each run also checks the
"loaded" count and the "bounds" answer against the dataset text.
"""

import argparse
import json
import os
import resource
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), os.pardir, "python"))
sys.path.insert(0, os.path.dirname(__file__))

import gen_dataset  # noqa: E402
import tavrin_ovra  # noqa: E402


def peak_rss_mib():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0


def expected_answers(text):
    dataset = json.loads(text)
    stamps = []
    for series in gen_dataset.SERIES:
        for record in dataset.get(series, []):
            stamps.append(record["ts"] if isinstance(record, dict) else record[0])
    count = len(stamps)
    bounds = '{"from_ts":%d,"to_ts":%d,"count":%d}' % (min(stamps), max(stamps), count)
    return '{"ok":true,"loaded":%d}' % count, bounds


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("file", nargs="?", help="dataset text made by gen_dataset.py")
    parser.add_argument("--repeat", type=int, default=1, help="loads to time (the peak comes from the first)")
    parser.add_argument("--no-check", action="store_true", help="skip the answer check (it parses the text in Python)")
    args = parser.parse_args()

    if args.file:
        with open(args.file) as f:
            text = f.read()
    else:
        text = gen_dataset.dataset_text(gen_dataset.generate(trades=100_000, book=10_000, levels=20))
    command = '{"cmd":"load","dataset":' + text + "}"
    print(f"dataset text: {len(text) / 2**20:.1f} MiB; peak RSS before load: {peak_rss_mib():.1f} MiB")

    handle = tavrin_ovra.Ovra("")
    times = []
    for _ in range(args.repeat):
        start = time.perf_counter()
        answer = handle.command(command)
        times.append(time.perf_counter() - start)
    bounds = handle.command('{"cmd":"bounds"}')
    print(f"load: best {min(times):.3f} s of {len(times)}; peak RSS after load: {peak_rss_mib():.1f} MiB")
    print(f"answer: {answer[:80]}  bounds: {bounds}")

    if not args.no_check:
        expected_load, expected_bounds = expected_answers(text)
        ok = answer == expected_load and bounds == expected_bounds
        print("check:", "ok" if ok else f"WRONG (expected {expected_load} {expected_bounds})")
        if not ok:
            sys.exit(1)


if __name__ == "__main__":
    main()
