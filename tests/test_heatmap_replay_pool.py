"""Book heatmap frames whose bucket-end books are replayed a side per pool
thread (when a thread is free) answer byte for byte as a handle on one
thread that keeps nothing, for any pool size and cache budget: scrubbed
forward, back and out of order, alone and beside the other panels."""

import os
import subprocess
import sys

import pytest

from hardening_data import package_root

SCRUB = r"""
import hashlib, json, random, sys
sys.path.insert(0, sys.argv[1]); sys.path.insert(0, sys.argv[2])
from hardening_data import ALL_PANELS_SPEC, command, make_dataset, spec_handle

START = 1_700_000_000_000
rng = random.Random(21)
dataset = make_dataset(seed=21, records=800)  # 200 s of every series but the book


def level(sign):
    return [round(100.0 + sign * rng.randrange(1, 400) * 0.05, 2), rng.choice([0.0, 0.5, 1.25, 3.0, 7.5])]


def book_event(k):
    if k % 5000 == 0:
        return {"ts": START + 10 * k, "kind": "snapshot", "bids": [level(-1) for _ in range(60)],
                "asks": [level(1) for _ in range(60)]}
    return {"ts": START + 10 * k, "kind": "diff", "bids": [level(-1) for _ in range(rng.randrange(0, 4))],
            "asks": [level(1) for _ in range(rng.randrange(0, 4))]}


dataset["book"] = [book_event(k) for k in range(20_000)]  # a change every 10 ms
heatmap_only = {"dataset_ref": "", "symbol": "H", "panels": [
    {"kind": "book_heatmap", "price_bin": 0.25, "bucket_ms": 1000, "depth_levels": 6}]}
cursors = [START + 1_000 * k for k in range(0, 200, 3)]
shuffled = cursors[:]
random.Random(3).shuffle(shuffled)
digest = hashlib.sha256()
for spec, points in [(heatmap_only, cursors), (heatmap_only, cursors[::-1]), (heatmap_only, shuffled),
                     (dict(heatmap_only, from_ts=START + 60_000), cursors[::4]), (ALL_PANELS_SPEC, shuffled[::3])]:
    handle = spec_handle(spec)
    handle.command(command("load", dataset=dataset))
    for ts in points:
        digest.update(handle.command(command("frame_at", ts=ts)).encode())
print(digest.hexdigest())
"""

# (pool threads, cache bytes; None keeps the default budget)
SETTINGS = [("2", None), ("2", "3000"), ("2", "200000"), ("1", None), ("4", None)]


def scrub_digest(pool, budget):
    env = dict(os.environ, RAYON_NUM_THREADS=pool)
    env.pop("TAVRIN_OVRA_CACHE_BYTES", None)
    if budget is not None:
        env["TAVRIN_OVRA_CACHE_BYTES"] = budget
    done = subprocess.run([sys.executable, "-c", SCRUB, package_root(), os.path.dirname(__file__)],
                          env=env, capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr[-3000:]
    return done.stdout.strip()


@pytest.fixture(scope="module")
def nothing_kept_on_one_thread():
    return scrub_digest("1", "0")


@pytest.mark.parametrize("pool,budget", SETTINGS, ids=["-".join(filter(None, s)) for s in SETTINGS])
def test_scrubbed_heatmap_frames_match_one_thread_keeping_nothing(nothing_kept_on_one_thread, pool, budget):
    assert scrub_digest(pool, budget) == nothing_kept_on_one_thread
