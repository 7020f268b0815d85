"""Records of the direct "load" road against the tree road, bit for bit: the
C++ driver tests/cpp/direct_load_check (built by scripts/dev-build) reads
each dataset text both ways. The texts put numbers on both sides of every
limit of the direct road's short number forms (digits before and after the
point, leading zeros, signs, exponents, ts widths), at the very end of a
text (where fewer bytes follow than a short form looks at), in long series
(which grow and move while they are read), and in the forms the short
forms leave to the general reader."""

import os
import random
import subprocess

import pytest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir)
DRIVER = os.path.join(ROOT, os.environ.get("OVRA_BUILD_DIR", "build"), "tests", "cpp", "direct_load_check")

pytestmark = pytest.mark.skipif(not os.path.exists(DRIVER), reason="C++ driver not built (scripts/dev-build)")


def run_driver(texts):
    data = b"".join(b"%d\n%s" % (len(t.encode()), t.encode()) for t in texts)
    out = subprocess.run([DRIVER], input=data, capture_output=True, timeout=600, check=True)
    return out.stdout.decode().splitlines()


def decimals(rng):
    """Numbers of 1 to 20 integer and 0 to 20 fraction digits, both signs."""
    out = []
    for integer_digits in range(1, 21):
        for fraction_digits in range(0, 21):
            for _ in range(2):
                integer = "".join(rng.choice("0123456789") for _ in range(integer_digits)).lstrip("0") or "0"
                text = integer
                if fraction_digits:
                    text += "." + "".join(rng.choice("0123456789") for _ in range(fraction_digits))
                out.append(("-" if rng.random() < 0.5 else "") + text)
    return out


EDGE_NUMBERS = ["0", "-0", "0.0", "-0.0", "0.5", "9007199254740993", "9007199254740992.5", "999999999999999",
                "999999999999999.9", "99999999.9999999", "0.000000000000001", "0.0000000000000001",
                "123456789012345", "1234567890123456", "1e5", "1E-5", "1.5e+3", "2.5e-324", "1e308", "4.9e-324",
                "18446744073709551615", "18446744073709551616", "-9223372036854775808", "-9223372036854775809",
                "0.1", "0.2", "0.3", "64001.0", "3399.98", "0.135",
                # fractions of zeros only, up to and past the short form's 15 digits
                "-64001.0", "64001.000", "7.00000000000000", "99999999999999.0", "999999999999999.0",
                "0.000000000000000", "-0.00000000000000", "100.00000000000", "123456789012.000", "5.10", "5.01"]
TS = ["0", "1", "9", "10", "1709251200000", "999999999999999999", "1000000000000000000", "9223372036854775807",
      "-1", "-9223372036854775808", "123456789012345678"]
MALFORMED = ["01", "-", "1.", ".5", "-01.5", "00", "1e", "1.5e+", "0x1", "+1", "1.e5", "--1", "1..2"]
MALFORMED_TS = ["1.0", "1e3", "-0", "9223372036854775808", "0123", "1.5"]


def trades(prices, qtys, ts="1"):
    return '{"trades":[' + ",".join('[%s,%s,%s,"buy"]' % (ts, p, q) for p, q in zip(prices, qtys)) + "]}"


def book(levels):
    return '{"book":[[1,"snapshot",[' + ",".join("[%s,%s]" % pq for pq in levels) + "],[]]]}"


def test_numbers_around_short_form_limits():
    rng = random.Random(5)
    numbers = decimals(rng) + EDGE_NUMBERS
    texts = [trades(numbers, reversed(numbers)), book(zip(numbers, numbers[1:]))]
    # Each number last in its text: the short forms need room after it.
    texts += ['{"oi":[[1,%s]]}' % n for n in numbers]
    texts += ['[[],[],[],[[1,%s]]]' % n for n in numbers]
    # Then 0 to 40 bytes of white space after it: the short forms take over
    # once enough bytes follow.
    texts += ['{"oi":[[1,%s]]}%s' % (n, " " * pad) for n in numbers[::7] for pad in range(41)]
    texts += ['{"oi":[[%s,1]]}%s' % (t, " " * pad) for t in TS for pad in range(41)]
    texts += ['{"funding":[[%s,1]]}' % t for t in TS]
    texts += ['{"trades":[[%s,1,1,"sell"]],"oi":[[%s,2]]}' % (t, t) for t in TS]
    lines = run_driver(texts)
    assert [line for line in lines if line != "taken"] == []


@pytest.mark.parametrize("bad", MALFORMED)
def test_malformed_numbers_are_declined(bad):
    texts = [trades([bad], ["1"]), trades(["1"], [bad]), book([(bad, "1")]), '{"oi":[[1,%s]]}' % bad]
    assert run_driver(texts) == ["declined"] * len(texts)


@pytest.mark.parametrize("bad", MALFORMED_TS)
def test_malformed_ts_are_declined(bad):
    texts = [trades(["1"], ["1"], ts=bad), '{"oi":[[%s,1]]}' % bad]
    assert run_driver(texts) == ["declined"] * len(texts)


def test_long_series_grow_while_read():
    rng = random.Random(9)
    events = []
    for i in range(40_000):
        bids = ",".join("[%d.%02d,%d.%03d]" % (rng.randint(1, 99999), rng.randint(0, 99), rng.randint(0, 9),
                                                rng.randint(0, 999)) for _ in range(rng.randint(0, 6)))
        if rng.random() < 0.3:
            events.append('{"asks":[],"ts":%d,"bids":[%s],"kind":"diff"}' % (i, bids))
        else:
            events.append('[%d,"diff",[%s],[[1.5,2]]]' % (i, bids))
    trade_rows = ",".join('[%d,%d.%d,0.%03d,"%s"]' % (i, rng.randint(1, 99999), rng.randint(0, 9),
                                                       rng.randint(0, 999), rng.choice(["buy", "sell"]))
                          for i in range(60_000))
    text = '{"trades":[' + trade_rows + '],"book":[' + ",".join(events) + "]}"
    # The same series twice, the later one winning, and white space between the tokens.
    spaced = text.replace(",", " ,\n ").replace(":", " : ")
    assert run_driver([text, '{"book":[' + ",".join(events[:500]) + "]," + text[1:], spaced]) == ["taken"] * 3


# Trade counts whose records (32 bytes each; oi records 16 bytes, twice as
# many) end just below, at and above the size from which a record block is a
# mapping of its own (1 MiB), and past the 32 MiB block a growing series
# jumps to: blocks change kind while they grow and again when trimmed.
SERIES_LENGTHS = [32_767, 32_768, 32_769, 65_537, 1_048_576, 1_048_577]


@pytest.mark.parametrize("count", SERIES_LENGTHS)
def test_series_lengths_at_the_block_sizes(count):
    trade_rows = ",".join('[%d,%d.5,0.%03d,"buy"]' % (i, 60000 + i % 977, i % 1000) for i in range(count))
    oi_rows = ",".join("[%d,%d.%d]" % (i, 80000 + i % 991, i % 10) for i in range(2 * count))
    texts = ['{"trades":[' + trade_rows + "]}", '{"oi":[' + oi_rows + "]}"]
    assert run_driver(texts) == ["taken", "taken"]
