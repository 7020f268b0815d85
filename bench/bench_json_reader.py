"""Time of reading one large command text (the reader alone: "version" with a
large ignored member), with the answer checked.

    python3 bench/bench_json_reader.py --rows 1200000     # about 100 MB of text

Prints the text size, the best of --repeat runs and the growth of the peak
resident size during the first run (the tree plus the module's copy of the text).
"""

import argparse
import os
import random
import resource
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), os.pardir, "python"))

import tavrin_ovra  # noqa: E402


def command_text(rows, seed=1):
    rng = random.Random(seed)
    trades = ",".join(
        '{"ts":%d,"price":%.2f,"qty":%.6f,"side":"%s"}'
        % (1690000000000 + i * 37, 30000 + rng.random() * 100, rng.random(), rng.choice(("buy", "sell")))
        for i in range(rows)
    )
    levels = ",".join("[%.1f,%.4f]" % (30000 - k * 0.5, rng.random() * 3) for k in range(20))
    book = ",".join('{"ts":%d,"kind":"diff","bids":[%s]}' % (1690000000000 + i * 1000, levels) for i in range(rows // 20))
    return '{"cmd":"version","dataset":{"trades":[%s],"book":[%s]}}' % (trades, book)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rows", type=int, default=200000)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    text = command_text(args.rows)
    handle = tavrin_ovra.Ovra("")
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    times = []
    for _ in range(args.repeat):
        start = time.perf_counter()
        answer = handle.command(text)
        times.append(time.perf_counter() - start)
        assert answer == '{"version":"0.1.6"}', answer
        if len(times) == 1:
            grown = (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before) / 1024.0
    print("text %.1f MB  best %.3f s  peak growth %.0f MiB" % (len(text) / 1e6, min(times), grown))


if __name__ == "__main__":
    main()
