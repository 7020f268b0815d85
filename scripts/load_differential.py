"""Reading differential of "load": generated dataset texts through our reader
(direct road first, tree road when it declines) and through the reference
reader, in its "dataset" mode (echo of the sorted records or the error) and
its "command" mode (the load answer, against Ovra.command).

    python3 scripts/load_differential.py --oracle PATH/ovra-oracle --count 100000

Builds fuzz/load_echo.cpp against build/libovra_core.a (run scripts/dev-build
first). Every input is a well-formed dataset of random record forms, or the
same with one fault injected (syntax, type, length, enum, missing field, i64
range, repeated keys, a malformed or edge number, members after "dataset", a
second "dataset" member).

With --split BYTES our reader shares every series array with at least BYTES
of text from its start on with a pool worker of two threads (the worker's
part is taken over only where the calling thread arrives at it), so that the
shared reading meets the same inputs, faults included.
"""

import argparse
import os
import random
import re
import subprocess
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir)
sys.path.insert(0, os.path.join(ROOT, "python"))

from tavrin_ovra import Ovra  # noqa: E402

FIELDS = {
    "candles": ["ts", "open", "high", "low", "close", "volume"],
    "trades": ["ts", "price", "qty", "side"],
    "book": ["ts", "kind", "bids", "asks"],
    "funding": ["ts", "rate"],
    "oi": ["ts", "oi"],
    "liquidations": ["ts", "price", "qty", "side"],
}
WORDS = {"trades": ["buy", "sell"], "book": ["snapshot", "diff"], "liquidations": ["long", "short"]}
SERIES = list(FIELDS)
NO_DATASET = '{"ok":false,"error":"data: no dataset"}'


def digits(rng, count):
    return "".join(rng.choice("0123456789") for _ in range(count))


def decimal(rng):
    """Integer and fraction parts of 1 to 20 and 0 to 20 digits: both sides of
    every digit-count limit of the short number forms."""
    integer = digits(rng, rng.randint(1, 20)).lstrip("0") or "0"
    sign = "-" if rng.random() < 0.3 else ""
    if rng.random() < 0.3:
        return sign + integer
    return sign + integer + "." + digits(rng, rng.randint(1, 20))


def number(rng):
    return rng.choice([
        lambda: decimal(rng),
        lambda: str(rng.randint(-10**6, 10**6)),
        lambda: "%.*f" % (rng.randint(0, 8), rng.uniform(-1e5, 1e5)),
        lambda: repr(rng.uniform(-1e3, 1e3)),
        lambda: "%de%d" % (rng.randint(1, 999), rng.randint(-330, 310)),
        lambda: rng.choice(["-0", "-0.0", "0", "0.0", "18446744073709551615", "9007199254740993",
                            "123456789012345678901234", "1e-400", "2.2250738585072014e-308",
                            "0.1234567890123456789012", "1.7976931348623157e308"]),
    ])()


def ts(rng):
    return str(rng.choice([rng.randint(0, 50), rng.randint(-2**63, 2**63 - 1), 2**63 - 1, -2**63,
                           rng.randint(10**12, 2 * 10**12), rng.randint(0, 10**rng.randint(1, 19))]))


def word(rng, series):
    w = rng.choice(WORDS[series])
    return '"%s"' % w if rng.random() < 0.8 else '{"%s":null}' % w


def levels(rng):
    return "[" + ",".join("[%s,%s]" % (number(rng), number(rng)) for _ in range(rng.randint(0, 4))) + "]"


def field(rng, series, name):
    if name == "ts":
        return ts(rng)
    if name in ("side", "kind"):
        return word(rng, series)
    if name in ("bids", "asks"):
        return levels(rng)
    return number(rng)


def record(rng, series):
    names = FIELDS[series]
    values = [field(rng, series, n) for n in names]
    if rng.random() < 0.5:
        return "[" + ",".join(values) + "]"
    members = ['"%s":%s' % kv for kv in zip(names, values)]
    rng.shuffle(members)
    if rng.random() < 0.2:
        members.insert(rng.randint(0, len(members)), '"note":{"x":[1,"a",null]}')
    if rng.random() < 0.2:  # an earlier value of a scalar field, overridden
        members.insert(0, '"ts":%s' % ts(rng))
    return "{" + ",".join(members) + "}"


def dataset(rng):
    chosen = [s for s in SERIES if rng.random() < 0.6]
    lists = {s: "[" + ",".join(record(rng, s) for _ in range(rng.randint(0, 5))) + "]" for s in chosen}
    if rng.random() < 0.25:
        count = rng.randint(0, 6)
        return "[" + ",".join(lists.get(s, "[]") for s in SERIES[:count]) + "]"
    members = ['"%s":%s' % (s, lists[s]) for s in chosen]
    rng.shuffle(members)
    if rng.random() < 0.2 and chosen:  # a repeated series: the later one wins
        members.insert(0, '"%s":[]' % rng.choice(chosen))
    return "{" + ",".join(members) + "}"


FAULTS = {
    "syntax": lambda rng, t: t[: (i := rng.randrange(len(t)))] + rng.choice(["", ",", "]", "}", ":", "x", '"', "[", "{"]) + t[i + 1:],
    "type": lambda rng, t: t.replace(rng.choice(["1", "2", "5", '"buy"', '"diff"', "["]), rng.choice(['"1"', "null", "true", "{}"]), 1),
    "length": lambda rng, t: t.replace("],[", ",7],[", 1) if rng.random() < 0.5 else t.replace(",", "],[", 1),
    "enum": lambda rng, t: t.replace(rng.choice(['"buy"', '"sell"', '"snapshot"', '"long"', "null}"]), rng.choice(['"BUY"', '"x"', "1}", '"diff"', '{}']), 1),
    "missing": lambda rng, t: t.replace(rng.choice(['"ts":', '"price":', '"side":', '"bids":', '"kind":']), '"zz":', 1),
    "i64": lambda rng, t: t.replace(rng.choice(["[1", "[2", '"ts":1', "[0"]), rng.choice(["[9223372036854775808", "[1.5", "[-9223372036854775809", "[18446744073709551616", "[1e3"]), 1),
    # a number replaced by a malformed or edge literal (leading zeros, empty
    # parts, dangling exponent, fraction or exponent in a ts)
    "number": lambda rng, t: re.sub(r"-?[0-9]+(\.[0-9]+)?", lambda m: rng.choice(
        ["01", "-", "1.", "-01.5", "00", "1e", "1.5e+", "0.", "-0", "1.0", "1E2", "012345678901234567", "1e0"]),
        t, count=1) if rng.random() < 0.5 else _replace_nth_number(rng, t),
    "repeated": lambda rng, t: t.replace("{", '{"ts":"x",', 1) if rng.random() < 0.5 else t.replace("{", '{"trades":5,', 1),
}


def _replace_nth_number(rng, t):
    found = list(re.finditer(r"(?<![0-9.eE+-])-?[0-9]+(\.[0-9]+)?", t))
    if not found:
        return t
    m = rng.choice(found)
    return t[: m.start()] + rng.choice(["01", "-", "1.", "-01.5", "00", "1e", "1.5e+", "0.", "-0", "1.0", "1E2",
                                        "1e0", "0.5e1", "123456789012345.6", "1234567890123456"]) + t[m.end():]


def command(rng, ds, fault):
    if fault == "after":
        return '{"cmd":"load","dataset":%s,%s}' % (ds, rng.choice(['"x":1e400', '"x":"\\ud800"', '"y":[1,', '"z":tru', '"cmd":"bounds"', '"cmd":5']))
    if fault == "second":
        return '{"cmd":"load","dataset":%s,"dataset":%s}' % (rng.choice(["5", "null", "{}", '{"oi":[[1]]}', ds]), ds)
    return '{"cmd":"load","dataset":%s}' % ds


def batch(args, mode, texts, env=None):
    data = b"".join(b"%d\n%s" % (len(t.encode()), t.encode()) for t in texts)
    out = subprocess.run(args + ([] if mode is None else ["batch", mode]), input=data, capture_output=True, check=True,
                         env=env)
    return out.stdout.decode().split("\n")[: len(texts)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--oracle", required=True)
    parser.add_argument("--count", type=int, default=100_000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--split", type=int, metavar="BYTES", help="share series arrays from this size on")
    args = parser.parse_args()
    echo = "/tmp/ovra_load_echo"
    subprocess.run(["g++", "-O2", "-std=c++20", "-ffp-contract=off", "-I" + os.path.join(ROOT, "core/src"),
                    os.path.join(ROOT, "fuzz/load_echo.cpp"), os.path.join(ROOT, "build/libovra_core.a"), "-o", echo], check=True)
    rng = random.Random(args.seed)
    kinds = ["clean"] * 3 + list(FAULTS) + ["after", "second"]
    datasets, commands, labels = [], [], []
    for _ in range(args.count):
        kind = rng.choice(kinds)
        ds = dataset(rng)
        if kind in FAULTS:
            ds = FAULTS[kind](rng, ds)
        datasets.append(ds)
        commands.append(command(rng, ds, kind))
        labels.append(kind)
    ours = batch([echo] + ([] if args.split is None else ["split", str(args.split)]), None, datasets,
                 env=None if args.split is None else dict(os.environ, RAYON_NUM_THREADS="2"))
    theirs = batch([args.oracle], "dataset", datasets)
    handle = Ovra("")
    ours_cmd = [handle.command(c) for c in commands]
    theirs_cmd = batch([args.oracle], "command", commands)
    stats = {}
    diffs = 0
    for i, label in enumerate(labels):
        taken = ours[i].startswith("T")
        mine = ours[i][1:] if taken else ours[i]
        s = stats.setdefault(label, [0, 0, 0, 0])
        s[0] += 1
        s[1] += taken
        s[2] += ours_cmd[i].startswith('{"ok":true')
        # The reference answers a "bounds" command (a later "cmd" member) with
        # a placeholder: the answer depends on the handle's stored dataset.
        cmd_same = ours_cmd[i] == theirs_cmd[i] or (
            theirs_cmd[i] == "BOUNDS" and (ours_cmd[i].startswith('{"from_ts":') or ours_cmd[i] == NO_DATASET))
        if mine != theirs[i] or not cmd_same:
            diffs += 1
            s[3] += 1
            if diffs <= 5:
                print("DIFF", label, repr(datasets[i][:300]), "\n ours", mine[:300], "\n ref ", theirs[i][:300],
                      "\n cmd ours", ours_cmd[i][:200], "\n cmd ref ", theirs_cmd[i][:200])
    print("%-9s %8s %8s %8s %6s" % ("kind", "inputs", "direct", "loaded", "diffs"))
    for label, s in stats.items():
        print("%-9s %8d %8d %8d %6d" % (label, *s))
    print("total inputs %d (x2 modes), direct road took %d dataset texts, differences %d"
          % (len(labels), sum(s[1] for s in stats.values()), diffs))
    sys.exit(1 if diffs else 0)


if __name__ == "__main__":
    main()
