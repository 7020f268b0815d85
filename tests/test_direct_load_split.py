"""Series arrays of the direct "load" road shared with a pool worker, against
the tree road bit for bit: the C++ driver tests/cpp/direct_load_check, told
to share every array (or every one with at least 64 bytes of text after its
start), reads each text both ways. The worker starts at a guessed record, so the texts put
record-like bytes where a guess lands in the wrong place (inside strings,
unknown members, level lists, a later series of the same shape), make the
worker's part or the caller's part fail, and hold level arrays large enough
to have their pages moved. With one pool thread nothing is shared; the
answers must not depend on it."""

import os
import random
import subprocess
import sys

import pytest

from hardening_data import package_root

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir)
DRIVER = os.path.join(ROOT, os.environ.get("OVRA_BUILD_DIR", "build"), "tests", "cpp", "direct_load_check")

pytestmark = pytest.mark.skipif(not os.path.exists(DRIVER), reason="C++ driver not built (scripts/dev-build)")


def run_driver(texts, threads, min_bytes):
    data = b"".join(b"%d\n%s" % (len(t.encode()), t.encode()) for t in texts)
    env = dict(os.environ, RAYON_NUM_THREADS=str(threads))
    out = subprocess.run([DRIVER, "split", str(min_bytes)], input=data, capture_output=True, timeout=600, check=True,
                         env=env)
    return out.stdout.decode().splitlines()


RNG = random.Random(20261210)
PRICES = ["1.5", "64001.25", "3", "0.001", "-2.75", "1e3", "0.1234567890123456789", "7"]


def trade(ts, side="buy"):
    return "[%d,%s,%s,\"%s\"]" % (ts, RNG.choice(PRICES), RNG.choice(PRICES), side)


def trades(n, side_at=None):
    return ",".join(trade(i, "BUY" if i == side_at else RNG.choice(["buy", "sell"])) for i in range(n))


def levels(n):
    return "[" + ",".join("[%d.%02d,0.%03d]" % (RNG.randrange(3000, 4000), RNG.randrange(100), RNG.randrange(1000))
                          for _ in range(n)) + "]"


def book_event(ts, most_levels):
    kind = RNG.choice(["snapshot", "diff"])
    return "[%d,\"%s\",%s,%s]" % (ts, kind, levels(RNG.randrange(most_levels + 1)), levels(RNG.randrange(most_levels + 1)))


def book(n, most_levels):
    return ",".join(book_event(RNG.randrange(10**12), most_levels) for _ in range(n))


def decoy_trade(ts):
    # Unknown members that hold what looks like records of the same array.
    return ('{"ts":%d,"junk":[[1,2,3,"buy"],[4,5,6,"sell"]],"price":1.5,"note":"],[7,8,9,\\"buy\\"]",'
            '"qty":2,"side":"sell","more":{"a":[[1,2.5,3,"buy"]]}}' % ts)


CASES = {
    "trades": '{"trades":[%s]}' % trades(2000),
    "one trade": '{"trades":[%s]}' % trades(1),
    "object records with decoys": '{"trades":[%s],"candles":[[1,2,3,4,5,6]]}' % ",".join(decoy_trade(i) for i in range(600)),
    "objects and arrays mixed": '{"trades":[%s]}' % ",".join(
        decoy_trade(i) if i % 3 else trade(i) for i in range(900)),
    "book": '{"book":[%s]}' % book(400, 12),
    "book levels moved": '{"book":[%s]}' % book(2000, 200),
    "book levels moved, then trades": '{"book":[%s],"trades":[%s]}' % (book(1500, 150), trades(30000)),
    "short series, same shape after": '{"funding":[[1,0.5],[2,0.25]],"oi":[%s]}' % ",".join(
        "[%d,%d.5]" % (i, i) for i in range(5000)),
    "series given twice": '{"trades":[%s],"trades":[%s]}' % (trades(3000), trades(2000)),
    "dataset as array": "[[],[%s],[%s]]" % (trades(2000), book(300, 10)),
    "white space": '{"trades": [%s]}' % ", ".join(trade(i) for i in range(500)),
    "late bad side": '{"trades":[%s]}' % trades(4000, side_at=3900),
    "early bad side": '{"trades":[%s]}' % trades(4000, side_at=100),
    "late bad level": '{"book":[%s,[5,"diff",[[1,2,3]],[]]]}' % book(300, 10),
    "unclosed": '{"trades":[%s' % trades(3000),
    "text after the array": '{"trades":[%s]} x' % trades(3000),
    "nested level lists as records": '{"trades":[%s],"book":[%s]}' % (trades(10), book(600, 30)),
}


@pytest.mark.parametrize("min_bytes", [0, 64], ids=["every array", "from 64 bytes"])
def test_shared_arrays_give_the_tree_roads_records(min_bytes):
    names = list(CASES)
    one = run_driver([CASES[n] for n in names], threads=1, min_bytes=min_bytes)
    two = run_driver([CASES[n] for n in names], threads=2, min_bytes=min_bytes)
    got_one = {n: line for n, line in zip(names, one)}
    got_two = {n: line.split(" ")[0] for n, line in zip(names, two)}
    for name in names:
        assert not got_one[name].startswith("differ"), name
        assert got_one[name].split(" ")[0] == got_two[name], name
    for name in ["late bad side", "early bad side", "late bad level", "unclosed", "text after the array"]:
        assert got_two[name] == "declined", name
    for name in ["trades", "book levels moved", "dataset as array", "series given twice"]:
        assert got_two[name] == "taken", name
    # One thread: nothing shared. Two: the large arrays are (timing decides
    # which ones, not what they read to).
    assert all(line in ("taken 0", "declined") for line in one)
    assert sum(int(line.split(" ")[1]) for line in two if line.startswith("taken")) > 0


# Through the module with the sharing threshold as shipped: a text of some
# 20 MB whose book and trades arrays are long enough to be shared, loaded in
# a process with one pool thread and in one with two; the load answer, the
# bounds and a frame of every panel must be the same texts.
MODULE_RUN = r"""
import json, random, sys
sys.path.insert(0, sys.argv[1])
from hardening_data import ALL_PANELS_SPEC
import tavrin_ovra
rng = random.Random(5)
def levels():
    return "[" + ",".join("[%d.%02d,%d.%03d]" % (rng.randrange(63900, 64100), rng.randrange(100), rng.randrange(5),
                                               rng.randrange(1000)) for _ in range(rng.randrange(1, 40))) + "]"
book = ",".join('[%d,"%s",%s,%s]' % (1709251200000 + 250 * i, "snapshot" if i % 50 == 0 else "diff", levels(), levels())
                for i in range(24000))
trades = ",".join('[%d,%d.%d,0.%03d,"%s"]' % (1709251200000 + 10 * i + rng.randrange(20), rng.randrange(63900, 64100),
                                             rng.randrange(10), rng.randrange(1, 1000), rng.choice(["buy", "sell"]))
                  for i in range(300000))
text = '{"cmd":"load","dataset":{"book":[%s],"trades":[%s]}}' % (book, trades)
assert len(book) > 16 << 20, len(book)  # past the sharing threshold
h = tavrin_ovra.Ovra(json.dumps(ALL_PANELS_SPEC))
print(h.command(text))
print(h.command('{"cmd":"bounds"}'))
print(h.command('{"cmd":"frame_at","ts":1709253000000}'))
"""


def test_module_load_is_the_same_with_one_and_two_pool_threads():
    tests = os.path.dirname(os.path.abspath(__file__))

    def run(n):
        # The child imports the package this run tests (a developer build, the
        # installed one or the sanitizer build's).
        env = dict(os.environ, RAYON_NUM_THREADS=str(n), PYTHONPATH=os.pathsep.join([package_root(), tests]))
        child = subprocess.run([sys.executable, "-c", MODULE_RUN, tests], capture_output=True, text=True, timeout=600,
                               env=env)
        assert child.returncode == 0, child.stderr[-4000:]
        return child.stdout

    one = run(1)
    assert one.startswith('{"ok":true,"loaded":324000}')
    assert run(2) == one
