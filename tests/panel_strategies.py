"""Hypothesis strategies for the panel property tests: small price grids that
make bins and bands collide, signed zeros, equal timestamps, and values large
enough that a scaling by 1e8 or a sum overflows to infinity."""

import os

from hypothesis import settings
from hypothesis import strategies as st

I64_MIN = -(2**63)
I64_MAX = 2**63 - 1

# Modest by default so the suite stays fast; raise with OVRA_PANEL_EXAMPLES.
PANEL_SETTINGS = settings(max_examples=int(os.environ.get("OVRA_PANEL_EXAMPLES", "150")), deadline=None)

prices = st.one_of(
    st.sampled_from([0.0, -0.0, 1.0, -1.0, 0.5, 100.2, 100.4, 1e308, -1e308, 1.7e308, -9e307, 8.988465674311579e307, 5e-9]),
    st.integers(-40, 40).map(lambda i: i * 0.25),
    st.integers(-30, 30).map(lambda i: i * 0.1),
    st.floats(allow_nan=False, allow_infinity=False),
)
quantities = st.one_of(
    st.sampled_from([0.0, -0.0, 1.0, 2.5, -1.0, 0.1, 0.2, 1e308, 1.7e308, -1.7e308, 5e-9, 2.5e-9, 0.123456789]),
    st.integers(-4, 8).map(float),
    st.floats(allow_nan=False, allow_infinity=False),
)
price_bins = st.one_of(
    st.sampled_from([1.0, 0.5, 0.1, 10.0, 0.25, 3.0, 1e-9, 1e300, 5e-324, 1.7e308]),
    st.floats(min_value=1e-6, max_value=1e6),
)
# Few distinct values, so equal timestamps are common.
timestamps = st.integers(-6, 6).map(lambda i: i * 7)
edge_timestamps = st.one_of(
    timestamps,
    st.sampled_from([I64_MIN, I64_MIN + 1, I64_MAX, I64_MAX - 1]),
    st.integers(I64_MIN, I64_MAX),
)


def by_time(records):
    """Window order: stable by ts."""
    return sorted(records, key=lambda r: r[0])
