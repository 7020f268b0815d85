"""The float form of every output, from the C++ writer (driver
tests/cpp/float_format_check, built by scripts/dev-build), against the model
built on Python's shortest round-trip digits: values of eight decimals
(cells and bins are rounded to eight) on both sides of the sizes where their
digits stop being read off the integer, their neighbours, and any doubles."""

import math
import os
import random
import struct
import subprocess

import pytest

from panel_models import float_text, round8

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir)
DRIVER = os.path.join(ROOT, os.environ.get("OVRA_BUILD_DIR", "build"), "tests", "cpp", "float_format_check")


def bits(x):
    return "%016x" % struct.unpack("<Q", struct.pack("<d", x))[0]


def neighbours(x):
    return [math.nextafter(x, -math.inf), x, math.nextafter(x, math.inf)]


def eight_place_values(rng):
    out = []
    for magnitude in range(-9, 18):
        for _ in range(300):
            n = rng.randrange(1, 10 ** 8) * 10 ** max(magnitude, 0) // 10 ** max(-magnitude, 0) or 1
            out.append(n / 1e8)
            out.append(round8(rng.random() * 10.0 ** magnitude))
    # around 2^26, 2^52 / 1e8 and 1e-8, where the integer road ends
    for edge in (2.0 ** 26, 2.0 ** 52 / 1e8, 2.0 ** 53 / 1e8, 1e-8, 5e-9, 1.0, 0.1, 1e15, 1e16):
        for k in range(-50, 51):
            out += neighbours(edge + k * 1e-8)
        out += neighbours(edge)
    # sums of rounded quantities, as band sums are
    for _ in range(3000):
        out.append(round8(sum(round8(rng.random() * 50) for _ in range(rng.randint(1, 30)))))
    return out


def any_doubles(rng):
    out = [struct.unpack("<d", struct.pack("<Q", rng.getrandbits(64)))[0] for _ in range(5000)]
    out += [rng.uniform(-1e9, 1e9) for _ in range(5000)]
    out += [0.0, -0.0, math.inf, -math.inf, math.nan, 5e-324, 1.7976931348623157e308, 0.1 + 0.2, 2.0 ** 26 - 1]
    return out


@pytest.mark.parametrize("values", [eight_place_values, any_doubles])
def test_float_form_matches_shortest_digits(values):
    if not os.path.exists(DRIVER):
        pytest.skip("C++ driver not built (scripts/dev-build)")
    rng = random.Random(13)
    xs = values(rng)
    xs += [-x for x in xs]
    run = subprocess.run([DRIVER], input="\n".join(bits(x) for x in xs) + "\n", capture_output=True, text=True,
                         timeout=600, check=True)
    got = run.stdout.splitlines()
    wrong = [(x, g, float_text(x)) for x, g in zip(xs, got) if g != float_text(x)]
    assert len(got) == len(xs)
    assert wrong[:20] == []
