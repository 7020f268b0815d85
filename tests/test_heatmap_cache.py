"""The book heatmap cache against the stateless road, byte for byte: the C++
driver tests/cpp/heatmap_cache_check (built by scripts/dev-build) replays
random datasets through one cache per memory limit (unset, zero, less than
one book, a few books, lowered while warm) and through two threads at once;
tests/cpp/stamped_side_check compares the paged book side with an ordered
map over random changes, snapshots and thaws."""

import os
import subprocess

import pytest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir)
DRIVERS = os.path.join(ROOT, os.environ.get("OVRA_BUILD_DIR", "build"), "tests", "cpp")


def run_driver(name, *args):
    path = os.path.join(DRIVERS, name)
    if not os.path.exists(path):
        pytest.skip("C++ driver not built (scripts/dev-build)")
    return subprocess.run([path, *map(str, args)], capture_output=True, text=True, timeout=600)


@pytest.mark.parametrize("seed", [1, 2, 3])
def test_cache_matches_stateless_road(seed):
    run = run_driver("heatmap_cache_check", seed, 8)
    assert run.returncode == 0, run.stdout[-4000:] + run.stderr[-2000:]
    assert run.stdout.strip().endswith("0 failures over 8 datasets")


@pytest.mark.parametrize("seed", [1, 2])
def test_paged_side_matches_ordered_map(seed):
    run = run_driver("stamped_side_check", seed, 24)
    assert run.returncode == 0, run.stdout[-4000:] + run.stderr[-2000:]
    assert run.stdout.strip().endswith("0 failures over 24 rounds")
