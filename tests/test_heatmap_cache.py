"""The book heatmap cache against the stateless road, byte for byte: the C++
driver tests/cpp/heatmap_cache_check (built by scripts/dev-build) replays
random datasets through one cache per memory limit (unset, zero, less than
one book, a few books, lowered while warm) and through two threads at once."""

import os
import subprocess

import pytest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir)
DRIVER = os.path.join(ROOT, os.environ.get("OVRA_BUILD_DIR", "build"), "tests", "cpp", "heatmap_cache_check")


@pytest.mark.skipif(not os.path.exists(DRIVER), reason="C++ driver not built (scripts/dev-build)")
@pytest.mark.parametrize("seed", [1, 2, 3])
def test_cache_matches_stateless_road(seed):
    run = subprocess.run([DRIVER, str(seed), "8"], capture_output=True, text=True, timeout=600)
    assert run.returncode == 0, run.stdout[-4000:] + run.stderr[-2000:]
    assert run.stdout.strip().endswith("0 failures over 8 datasets")
