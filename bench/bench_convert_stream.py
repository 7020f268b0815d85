"""Speed and peak memory of `convert binance-stream` on a recorded stream.

    python3 bench/bench_convert_stream.py FILE... [--repeat 5]

Converts the files (one recording, in order) in a child process ``--repeat`` times and
prints the median time, message lines and level changes a second, and the largest peak
resident memory of the children.
"""

import argparse
import gzip
import json
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
CHILD = """
import sys, time
import polars  # imported before the clock starts
from tavrin_ovra import sources
start = time.perf_counter()
sources.convert("binance-stream", sys.argv[2:], sys.argv[1], candles="none")
print(time.perf_counter() - start)
"""


def lines_of(paths):
    total = 0
    for path in paths:
        with (gzip.open(path, "rb") if path.endswith(".gz") else open(path, "rb")) as f:
            total += sum(1 for _ in f)
    return total


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("files", nargs="+")
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    env = dict(os.environ, PYTHONPATH=os.path.join(HERE, "..", "python"))
    times, peak = [], 0
    with tempfile.TemporaryDirectory() as folder:
        out = os.path.join(folder, "out.json")
        for _ in range(args.repeat):
            run = subprocess.run([sys.executable, "-c", CHILD, out] + args.files, env=env,
                                 check=True, capture_output=True, text=True)
            times.append(float(run.stdout.strip().splitlines()[-1]))
            peak = max(peak, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)
        with open(out) as f:
            book = json.load(f)["book"]
    changes = sum(len(e[2]) + len(e[3]) for e in book)
    lines = lines_of(args.files)
    median = statistics.median(times)
    print(f"{lines:,} lines, {changes:,} level changes: median {median:.3f} s "
          f"(runs {', '.join(f'{t:.3f}' for t in times)}), {lines / median:,.0f} lines/s, "
          f"{changes / median:,.0f} level changes/s, peak RSS {peak / 1024:.0f} MiB")


if __name__ == "__main__":
    main()
