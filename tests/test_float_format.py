"""The float form shared by frames and messages, seen exactly through the load
message for a float `ts` ("invalid type: floating point `{x}`, expected i64").
The expected layout is derived here from Python's repr digits, which are also
the shortest round-trip digits."""

import math
import random
import struct

import pytest



def expected_form(x):
    """Lay out repr's shortest digits: plain for decimal exponents -5..15
    (".0" on integral values), else d.ddde+X / d.ddde-X."""
    if not math.isfinite(x):
        return "null"
    if x == 0.0:
        return "-0.0" if math.copysign(1.0, x) < 0 else "0.0"
    sign = "-" if x < 0 else ""
    mantissa, _, exp_text = repr(abs(x)).partition("e")
    whole, _, fraction = mantissa.partition(".")
    all_digits = whole + fraction
    leading_zeros = len(all_digits) - len(all_digits.lstrip("0"))
    # Exponent of the first significant digit.
    exponent = int(exp_text or 0) + len(whole) - 1 - leading_zeros
    digits = all_digits.strip("0")
    n = len(digits)
    if -5 <= exponent <= 15:
        if exponent >= n - 1:
            text = digits + "0" * (exponent - n + 1) + ".0"
        elif exponent >= 0:
            text = digits[: exponent + 1] + "." + digits[exponent + 1 :]
        else:
            text = "0." + "0" * (-exponent - 1) + digits
    else:
        fraction_part = "." + digits[1:] if n > 1 else ""
        text = digits[0] + fraction_part + "e" + ("-" if exponent < 0 else "+") + str(abs(exponent))
    return sign + text


def quoted_by_load(handle, x):
    """The float form the system writes for the double that reads back from repr(x)."""
    response = handle.command('{"cmd":"load","dataset":{"oi":[[%r,1]]}}' % x)
    prefix = '{"ok":false,"error":"parse: invalid type: floating point `'
    suffix = '`, expected i64"}'
    assert response.startswith(prefix) and response.endswith(suffix), response
    return response[len(prefix) : -len(suffix)]


def from_bits(bits):
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


# --- the layout rules, written out ----------------------------------------------

@pytest.mark.parametrize(
    "x, text",
    [
        (1.0, "1.0"),
        (100.0, "100.0"),
        (1500.0, "1500.0"),
        (42.0, "42.0"),
        (100000.0, "100000.0"),
        (12.34, "12.34"),
        (0.5, "0.5"),
        (0.001234, "0.001234"),
        (0.1, "0.1"),
        (1 / 3, "0.3333333333333333"),
        (0.1 + 0.2, "0.30000000000000004"),
        (3e-5, "0.00003"),
        (1e-5, "0.00001"),
        (-1e-5, "-0.00001"),
        (9.9e-6, "9.9e-6"),
        (1e-6, "1e-6"),
        (2.5e-7, "2.5e-7"),
        (1e15, "1000000000000000.0"),
        (9999999999999998.0, "9999999999999998.0"),
        (1e16, "1e+16"),
        (-1e16, "-1e+16"),
        (1.5e20, "1.5e+20"),
        (2.0**63, "9.223372036854776e+18"),
        (1.7976931348623157e308, "1.7976931348623157e+308"),
        (-1.7976931348623157e308, "-1.7976931348623157e+308"),
        (5e-324, "5e-324"),
        (2.2250738585072014e-308, "2.2250738585072014e-308"),
        (2.225073858507201e-308, "2.225073858507201e-308"),
        (0.0, "0.0"),
        (-0.0, "-0.0"),
        (1658206780088562.25, "1658206780088562.2"),
        (123456789012345680.0, "1.2345678901234568e+17"),
        (1.0000000000000002, "1.0000000000000002"),
        (-1.2345678901234566e-7, "-1.2345678901234566e-7"),
    ],
    ids=lambda v: v if isinstance(v, str) else None,
)
def test_layout(handle, x, text):
    assert expected_form(x) == text  # the oracle of this file agrees with the written rules
    assert quoted_by_load(handle, x) == text


def test_non_finite_is_null():
    assert expected_form(math.inf) == expected_form(-math.inf) == expected_form(math.nan) == "null"


# --- boundaries and a seeded random set --------------------------------------

def _neighbours(x, steps=3):
    """x and the doubles just around it, as bit patterns allow."""
    bits = struct.unpack("<Q", struct.pack("<d", x))[0]
    return [from_bits(b) for b in range(max(bits - steps, 0), bits + steps + 1)]


BOUNDARIES = [1e16, 9999999999999998.0, 1e15, 1e-5, 9.9e-6, 1e-6, 2.0**53, 2.0**63, 2.0**64,
              5e-324, 2.2250738585072014e-308, 1.7976931348623157e308, 1.0, 0.1]


def boundary_values():
    values = []
    for x in BOUNDARIES:
        for v in _neighbours(x):
            if math.isfinite(v):
                values += [v, -v]
    return values


def random_values(seed, count):
    """Random bit patterns, random decimals over a wide exponent range, and
    17-digit values (which need all 17 digits to round-trip)."""
    rng = random.Random(seed)
    values = []
    while len(values) < count:
        pick = len(values) % 4
        if pick == 0:
            x = from_bits(rng.getrandbits(64))
        elif pick == 1:
            x = rng.uniform(-1, 1) * 10.0 ** rng.randint(-25, 25)
        elif pick == 2:
            x = float("%.16e" % (rng.uniform(1, 10) * 10.0 ** rng.randint(-8, 20)))
        else:
            x = from_bits(rng.getrandbits(52))  # subnormals
        if math.isfinite(x):
            values.append(x)
    return values


def mismatches(handle, values):
    found = []
    for x in values:
        written, expected = quoted_by_load(handle, x), expected_form(x)
        if written != expected:
            found.append((x, written, expected))
    return found


def test_boundaries(handle):
    assert mismatches(handle, boundary_values()) == []


def test_seventeen_digit_values_are_present():
    assert any(len(repr(x).split("e")[0].replace(".", "").replace("-", "").strip("0")) == 17
               for x in random_values(11, 400))


def test_seeded_random_doubles(handle):
    assert mismatches(handle, random_values(20260101, 20_000)) == []


@pytest.mark.slow
def test_random_sweep(handle):
    assert mismatches(handle, random_values(424242, 500_000)) == []
