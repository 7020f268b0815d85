"""Speed and peak memory of "load" beside JSON peers, on one dataset text.

    PYTHONPATH=python python3 bench/bench_load.py /tmp/day.json /tmp/dense.json

Per file, all on the same command text {"cmd":"load","dataset":...}: our load
(direct road), our load with OVRA_LOAD_ROAD=tree (the value-tree road, same
answers), pysimdjson's DOM parse (it only builds its tape), msgspec's typed
decode into array-like structs, and orjson.loads; MB/s and the ratio of each
to the direct road. Each row is the best of --repeat runs back to back (msgspec
and orjson fewer), with Python's cyclic collector paused while a run lasts.
Then the peak memory of a direct load, measured in a
fresh process: VmHWM after the load minus VmRSS before it (the text already
held), against the dataset's record bytes. Peers come with the bench extra
(pip install .[bench]). Without a file a generated dataset is used.

With --baseline DIR (a python/ folder holding an earlier build of the package,
e.g. a worktree of an older commit after scripts/dev-build), that build's load
of the same command text is timed too, in a child process between our rows,
and the direct road's speed-up over it is printed.
"""

import argparse
import gc
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), os.pardir, "python"))
sys.path.insert(0, os.path.dirname(__file__))

import msgspec  # noqa: E402
import orjson  # noqa: E402
import simdjson  # noqa: E402

import tavrin_ovra  # noqa: E402


class Candle(msgspec.Struct, array_like=True):
    ts: int
    open: float
    high: float
    low: float
    close: float
    volume: float


class Trade(msgspec.Struct, array_like=True):
    ts: int
    price: float
    qty: float
    side: str


class BookEvent(msgspec.Struct, array_like=True):
    ts: int
    kind: str
    bids: list[tuple[float, float]]
    asks: list[tuple[float, float]]


class Sample(msgspec.Struct, array_like=True):
    ts: int
    value: float


class Liquidation(msgspec.Struct, array_like=True):
    ts: int
    price: float
    qty: float
    side: str


class Dataset(msgspec.Struct):
    candles: list[Candle] = []
    trades: list[Trade] = []
    book: list[BookEvent] = []
    funding: list[Sample] = []
    oi: list[Sample] = []
    liquidations: list[Liquidation] = []


class Command(msgspec.Struct):
    cmd: str
    dataset: Dataset


# Bytes of one record in the dataset's arrays.
RECORD_BYTES = {"candles": 48, "trades": 32, "book": 48, "funding": 16, "oi": 16, "liquidations": 32}


def timed(run):
    # Python's cyclic collector stays paused while a peer builds its millions
    # of objects (else its passes, not the decoding, dominate the figure).
    gc.disable()
    try:
        start = time.perf_counter()
        result = run()
        seconds = time.perf_counter() - start
    finally:
        gc.enable()
    del result
    gc.collect()
    return seconds


def best_times(rows):
    """Best time of each (name, run, runs) row, its runs back to back (each
    tool in its steady state: pysimdjson reuses its parser, our handle frees
    the dataset it replaces)."""
    return [(name, min(timed(run) for _ in range(runs))) for name, run, runs in rows]


def our_load(command, road):
    handle = tavrin_ovra.Ovra("")

    def run():
        if road == "tree":
            os.environ["OVRA_LOAD_ROAD"] = "tree"
        try:
            answer = handle.command(command)
        finally:
            os.environ.pop("OVRA_LOAD_ROAD", None)
        assert answer.startswith('{"ok":true'), answer[:200]
        return answer

    return run


PEAK_CHILD = r"""
import sys
sys.path.insert(0, sys.argv[2])
import tavrin_ovra
def status(key):
    for line in open("/proc/self/status"):
        if line.startswith(key):
            return int(line.split()[1]) * 1024
command = '{"cmd":"load","dataset":' + open(sys.argv[1]).read() + "}"
handle = tavrin_ovra.Ovra("")
before = status("VmRSS:")
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")
answer = handle.command(command)
print(status("VmHWM:") - before, len(command))
"""


def peak_of_load(path):
    out = subprocess.run([sys.executable, "-c", PEAK_CHILD, path, os.path.join(os.path.dirname(__file__), os.pardir, "python")],
                         capture_output=True, text=True, check=True, env={k: v for k, v in os.environ.items() if k != "OVRA_LOAD_ROAD"})
    growth, text_bytes = (int(x) for x in out.stdout.split())
    return growth, text_bytes


BASELINE_CHILD = r"""
import gc, sys, time
sys.path.insert(0, sys.argv[2])
import tavrin_ovra
command = '{"cmd":"load","dataset":' + open(sys.argv[1]).read() + "}"
handle = tavrin_ovra.Ovra("")
best = None
for _ in range(int(sys.argv[3])):
    gc.disable()
    start = time.perf_counter()
    answer = handle.command(command)
    seconds = time.perf_counter() - start
    gc.enable()
    assert answer.startswith('{"ok":true'), answer[:200]
    del answer
    best = seconds if best is None else min(best, seconds)
print(best)
"""


def baseline_load(path, folder, repeat):
    """Best load time of an earlier build of the package on the same text."""
    out = subprocess.run([sys.executable, "-c", BASELINE_CHILD, path, folder, str(repeat)],
                         capture_output=True, text=True, check=True)
    return float(out.stdout.split()[-1])


def dataset_bytes(decoded):
    d = decoded.dataset
    total = sum(len(getattr(d, s)) * b for s, b in RECORD_BYTES.items())
    return total + 16 * sum(len(e.bids) + len(e.asks) for e in d.book)


def bench_file(path, repeat, baseline):
    with open(path) as f:
        text = f.read()
    command = '{"cmd":"load","dataset":' + text + "}"
    del text
    raw = command.encode()
    mb = len(raw) / 1e6
    parser = simdjson.Parser()
    decoder = msgspec.json.Decoder(Command)
    rows = best_times([
        ("ovra load (direct)", our_load(command, "direct"), repeat),
        ("ovra load (tree road)", our_load(command, "tree"), repeat),
        ("pysimdjson DOM parse", lambda: parser.parse(raw), repeat),
        ("msgspec typed decode", lambda: decoder.decode(raw), max(1, repeat // 2)),
        ("orjson.loads", lambda: orjson.loads(raw), max(1, repeat // 2)),
    ])
    if baseline:
        rows.insert(2, (f"earlier build's load", baseline_load(path, baseline, repeat)))
    print(f"\n{path}: command text {mb:.1f} MB")
    if baseline:
        print(f"  earlier build: {baseline}")
    direct = rows[0][1]
    for name, seconds in rows:
        print(f"  {name:24s} {seconds:8.3f} s {mb / seconds:8.0f} MB/s   direct is {seconds / direct:5.2f}x faster")
    record_bytes = dataset_bytes(decoder.decode(raw))
    growth, text_bytes = peak_of_load(path)
    print(f"  peak of a direct load: text {text_bytes / 2**20:.1f} MiB + {growth / 2**20:.1f} MiB during the load;"
          f" dataset {record_bytes / 2**20:.1f} MiB; growth / dataset = {growth / record_bytes:.2f} (limit 1.5)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("files", nargs="*", help="dataset texts (array-form records)")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--baseline", metavar="DIR", help="python/ folder of an earlier build to time beside ours")
    args = parser.parse_args()
    files = args.files
    if not files:
        import gen_dataset

        path = "/tmp/ovra_bench_load.json"
        with open(path, "w") as f:
            f.write(gen_dataset.dataset_text(gen_dataset.generate(trades=100_000, book=10_000, levels=20)))
        files = [path]
    for path in files:
        bench_file(path, args.repeat, args.baseline)


if __name__ == "__main__":
    main()
