"""The frames a handle keeps between calls: one handle driven through random
cursors, spec changes, loads, resets and failing commands answers every frame
byte for byte as a fresh handle does for the same dataset, spec and cursor;
also with a cache budget so small that checkpoints are thinned and entries
dropped after every frame."""

import os
import random
import subprocess
import sys
import threading
import warnings

import pytest

from tavrin_ovra import Ovra

from hardening_data import (ALL_PANELS_SPEC, NO_DATASET, NO_SPEC, OK, command, loaded_text, make_dataset,
                            package_root, spec_handle)

START = 1_700_000_000_000
FAILING = ["not json", '{"cmd":"frame_at","ts":1.5}', command("set_spec", spec={"symbol": ""}),
           command("set_spec", spec={"dataset_ref": "", "symbol": "X", "panels": []}),
           command("load", dataset=None), '{"cmd":"FRAME"}']


def random_spec(rng):
    kinds = ["footprint", "book_heatmap", "liquidation_map", "funding_oi_divergence"]
    panels = []
    for _ in range(rng.randint(1, 4)):
        kind = rng.choice(kinds)
        panel = {"kind": kind}
        if kind != "funding_oi_divergence":
            panel["price_bin"] = rng.choice([0.25, 0.5, 1.0, 2.5])
        if kind != "liquidation_map":
            panel["bucket_ms"] = rng.choice([1000, 7000, 60000])
        if kind == "book_heatmap":
            panel["depth_levels"] = rng.choice([1, 4, 9])
        panels.append(panel)
    spec = {"dataset_ref": "", "symbol": "S%d" % rng.randint(0, 9), "panels": panels}
    if rng.random() < 0.5:
        spec["from_ts"] = START + rng.randint(-5_000, 60_000)
    if rng.random() < 0.3:
        spec["to_ts"] = spec.get("from_ts", START) + rng.randint(0, 90_000)
    return spec


def drive(seed, steps):
    """Runs one seeded sequence; returns the number of frames compared."""
    rng = random.Random(seed)
    datasets = [make_dataset(seed=seed * 10 + k, records=rng.choice([40, 400, 1500])) for k in range(2)]
    handle = Ovra("")
    spec, dataset, frames = None, None, 0
    for _ in range(steps):
        roll = rng.random()
        if roll < 0.05:
            dataset = rng.choice(datasets)
            assert handle.command(command("load", dataset=dataset)) == loaded_text(dataset)
        elif roll < 0.08:
            assert handle.command(command("reset")) == OK
            dataset = None
        elif roll < 0.13:
            spec = random_spec(rng)
            assert handle.command(command("set_spec", spec=spec)) == OK
        elif roll < 0.20 and spec is not None:
            # A small change of one setting: a window end or one panel parameter.
            spec = dict(spec, panels=[dict(p) for p in spec["panels"]])
            panel = rng.choice(spec["panels"])
            change = rng.random()
            if change < 0.4:
                spec["from_ts"] = START + rng.randint(0, 60_000)
                spec.pop("to_ts", None)
            elif change < 0.5:
                spec["to_ts"] = START + rng.randint(0, 120_000)
                spec.pop("from_ts", None)
            elif change < 0.6 and len(spec["panels"]) > 1:
                spec["panels"].remove(panel)
            elif change < 0.7:
                spec["panels"].insert(rng.randrange(len(spec["panels"]) + 1), dict(panel))
            elif panel["kind"] == "book_heatmap" and change < 0.8:
                panel["depth_levels"] = rng.choice([2, 4, 30])
            elif "price_bin" in panel and change < 0.9:
                panel["price_bin"] = rng.choice([0.5, 1.0, 2.0])
            elif "bucket_ms" in panel:
                panel["bucket_ms"] = rng.choice([1000, 60000])
            assert handle.command(command("set_spec", spec=spec)) == OK
        elif roll < 0.25:
            assert handle.command(rng.choice(FAILING)).startswith('{"ok":false')
        else:
            cursor = START + rng.randint(-2_000, 120_000)
            text = command("frame_at", ts=cursor) if rng.random() < 0.9 else command("frame")
            answer = handle.command(text)
            if spec is None:
                assert answer == NO_SPEC
                continue
            if dataset is None:
                assert answer == NO_DATASET
                continue
            fresh = spec_handle(spec)
            fresh.command(command("load", dataset=dataset))
            assert answer == fresh.command(text), (seed, text)
            frames += 1
    return frames


@pytest.mark.parametrize("seed", range(6))
def test_driven_handle_answers_as_a_fresh_one(seed):
    assert drive(seed, 160) > 40


def test_frames_scrubbed_forward_back_and_sliding_match_fresh_handles():
    dataset = make_dataset(seed=5, records=3000)
    handle = spec_handle(ALL_PANELS_SPEC)
    handle.command(command("load", dataset=dataset))
    cursors = [START + 250 * k for k in range(0, 3000, 37)]
    rounds = [(None, cursors), (None, cursors[::-1]), (START + 20_000, cursors[::3])]
    for from_ts, points in rounds:
        spec = dict(ALL_PANELS_SPEC, **({"from_ts": from_ts} if from_ts else {}))
        handle.command(command("set_spec", spec=spec))
        fresh = spec_handle(spec)
        fresh.command(command("load", dataset=dataset))
        for ts in points:
            assert handle.command(command("frame_at", ts=ts)) == fresh.command(command("frame_at", ts=ts))
    for ts in cursors[::5]:  # the window slides with the cursor
        spec = dict(ALL_PANELS_SPEC, from_ts=ts - 30_000)
        handle.command(command("set_spec", spec=spec))
        fresh = spec_handle(spec)
        fresh.command(command("load", dataset=dataset))
        assert handle.command(command("frame_at", ts=ts)) == fresh.command(command("frame_at", ts=ts))


def zoom(spec, price_factor=1.0, depth_levels=None, bucket_factor=1):
    panels = []
    for panel in spec["panels"]:
        panel = dict(panel)
        if "price_bin" in panel:
            panel["price_bin"] *= price_factor
        if depth_levels is not None and panel["kind"] == "book_heatmap":
            panel["depth_levels"] = depth_levels
        if "bucket_ms" in panel:
            panel["bucket_ms"] *= bucket_factor
        panels.append(panel)
    return dict(spec, panels=panels)


@pytest.mark.parametrize("settings", [
    [{}, {"price_factor": 0.5, "depth_levels": 7}],
    [{}, {"bucket_factor": 2}],
    [{"depth_levels": 3}, {"depth_levels": 40}, {"price_factor": 4.0}],
], ids=["price-and-depth", "bucket", "three-settings"])
def test_alternating_settings_at_one_cursor_match_fresh_handles(settings):
    dataset = make_dataset(seed=12, records=2500)
    base = dict(ALL_PANELS_SPEC, from_ts=START + 5_000)
    specs = [zoom(base, **setting) for setting in settings]
    fresh = {}
    handle = spec_handle(base)
    handle.command(command("load", dataset=dataset))
    for round_ in range(3 * len(specs)):
        spec = specs[round_ % len(specs)]
        assert handle.command(command("set_spec", spec=spec)) == OK
        for ts in (START + 600_000, START + 300_000):  # the end of the data, then inside it
            key = (round_ % len(specs), ts)
            if key not in fresh:
                reference = spec_handle(spec)
                reference.command(command("load", dataset=dataset))
                fresh[key] = reference.command(command("frame_at", ts=ts))
            assert handle.command(command("frame_at", ts=ts)) == fresh[key], (round_, ts)


def test_driven_handles_on_several_threads_answer_as_fresh_ones():
    # Each thread owns its handle; their panels share the worker pool.
    counts, failures = [], []

    def run(seed):
        try:
            counts.append(drive(seed, 80))
        except BaseException as exc:  # reported below, on the test's thread
            failures.append(exc)

    threads = [threading.Thread(target=run, args=(100 + k,)) for k in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert not failures, failures[0]
    assert sum(counts) > 60


SMALL_BUDGET = (
    "import sys; sys.path.insert(0, sys.argv[1]); sys.path.insert(0, sys.argv[2]);"
    "import test_frame_cache as t; print(sum(t.drive(s, 120) for s in range(3)));"
    "t.test_frames_scrubbed_forward_back_and_sliding_match_fresh_handles()"
)


@pytest.mark.parametrize("budget", ["0", "3000", "200000"], ids=["nothing-kept", "tiny", "small"])
def test_small_cache_budget_gives_the_same_frames(budget):
    env = dict(os.environ, TAVRIN_OVRA_CACHE_BYTES=budget)
    done = subprocess.run([sys.executable, "-c", SMALL_BUDGET, package_root(), os.path.dirname(__file__)],
                          env=env, capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr[-3000:]
    assert int(done.stdout.split()[0]) > 100


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
def test_forked_child_with_a_warm_handle_answers_as_its_parent():
    dataset = make_dataset(seed=8, records=2000)
    handle = spec_handle(ALL_PANELS_SPEC)
    handle.command(command("load", dataset=dataset))
    cursors = [START + 9_000 * k for k in range(1, 40, 3)]
    expected = [handle.command(command("frame_at", ts=ts)) for ts in cursors[::-1]]
    read_end, write_end = os.pipe()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        pid = os.fork()
    if pid == 0:  # pragma: no cover - child
        try:
            answers = [handle.command(command("frame_at", ts=ts)) for ts in cursors[::-1]]
            os.write(write_end, b"same" if answers == expected else b"differs")
        finally:
            os._exit(0)
    os.close(write_end)
    with os.fdopen(read_end, "rb") as pipe:
        verdict = pipe.read()
    _, status = os.waitpid(pid, 0)
    assert os.waitstatus_to_exitcode(status) == 0
    assert verdict == b"same"
