"""Memory: a thousand load / frame / reset / set_spec cycles keep the resident
set flat, and running out of memory inside a command (parse tree, records,
frame grid, response text) surfaces as MemoryError or an error response,
never as a crash, and leaves the handle as it was."""

import gc
import json
import os
import subprocess
import sys

import pytest

from tavrin_ovra import Ovra

from hardening_data import (ALL_PANELS_SPEC, OK, bounds_text, command, compact, loaded_text, make_dataset,
                            package_root, spec_handle)

MiB = 1 << 20


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.memory_accounting
def test_thousand_cycles_keep_resident_memory_flat():
    dataset = make_dataset(seed=7, records=3000)
    other_spec = dict(ALL_PANELS_SPEC, symbol="ETH-PERP", to_ts=1_700_000_400_000)
    texts = {
        "load": command("load", dataset=dataset),
        "frame": command("frame"),
        "frame_at": command("frame_at", ts=1_700_000_300_000),
        "reset": command("reset"),
        "spec_a": command("set_spec", spec=ALL_PANELS_SPEC),
        "spec_b": command("set_spec", spec=other_spec),
    }
    handle = spec_handle(ALL_PANELS_SPEC)
    first = {}

    def cycle(i):
        spec = "spec_a" if i % 2 else "spec_b"
        assert handle.command(texts[spec]) == OK
        assert handle.command(texts["load"]) == loaded_text(dataset)
        frame = handle.command(texts["frame"]), handle.command(texts["frame_at"])
        assert first.setdefault(spec, frame) == frame
        assert handle.command(texts["reset"]) == OK

    for i in range(100):  # allocator pools and the worker pool settle
        cycle(i)
    gc.collect()
    start = resident_bytes()
    for i in range(1000):
        cycle(i)
    gc.collect()
    grown = resident_bytes() - start
    assert grown < 8 * MiB, f"resident set grew by {grown / MiB:.1f} MiB over 1000 cycles"


# The child builds its command text first, then caps its address space a
# given number of MiB above what it uses, runs one command, lifts the cap and
# reports what happened and what the handle answers afterwards.
CHILD = r"""
import json, resource, sys
sys.path.insert(0, sys.argv[1]); sys.path.insert(0, sys.argv[2])
from tavrin_ovra import Ovra
from hardening_data import ALL_PANELS_SPEC, command, compact, make_dataset, spec_handle
headroom_mib, scenario = int(sys.argv[3]), sys.argv[4]
handle = spec_handle(ALL_PANELS_SPEC)
handle.command(command("load", dataset=make_dataset(seed=3, records=300)))
handle.command(command("frame"))  # the worker pool exists before the cap
# Before any record: every panel is empty, so the probe stays cheap whatever the spec.
probe = lambda: (handle.command(command("bounds")), handle.command(command("frame_at", ts=-1)))
if scenario == "load":
    records = int(sys.argv[5])
    text = '{"cmd":"load","dataset":{"trades":[' + ",".join(['[1,1.5,2.5,"buy"]'] * records) + ']}}'
else:
    # "grid": one grid far beyond any limit; "grids": many grids, each just
    # within the per-panel limit (10 million cells), together beyond memory.
    # "refused-first": a grid refused on its own, then many that each fit.
    huge = {"kind": "book_heatmap", "price_bin": 1.0, "bucket_ms": 1, "depth_levels": 4294967295}
    fitting = {"kind": "book_heatmap", "price_bin": 1.0, "bucket_ms": 1000, "depth_levels": 10000}
    panels = {"grid": [huge], "grids": [fitting] * 64, "refused-first": [huge] + [fitting] * 64}[scenario]
    spec = {"dataset_ref": "", "symbol": "X", "panels": panels}
    handle.command(command("set_spec", spec=spec))
    book = [[1000 * k, "snapshot", [[99.0, 1.0]], [[101.0, 1.0]]] for k in range(1000)]
    handle.command(command("load", dataset={"book": book}))
    text = command("frame")
before = probe()
with open("/proc/self/status") as status:
    vm_kib = next(int(line.split()[1]) for line in status if line.startswith("VmSize:"))
soft, hard = resource.getrlimit(resource.RLIMIT_AS)
resource.setrlimit(resource.RLIMIT_AS, (vm_kib * 1024 + headroom_mib * 2**20, hard))
try:
    response = handle.command(text)
    outcome = "response"
except MemoryError:
    response, outcome = None, "MemoryError"
resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
after = probe()
print(json.dumps({"outcome": outcome, "response": response and response[:200], "unchanged": before == after,
                  "bounds": after[0]}))
"""


def run_capped(headroom_mib, scenario, *extra):
    done = subprocess.run(
        [sys.executable, "-c", CHILD, package_root(), os.path.dirname(__file__), str(headroom_mib), scenario,
         *map(str, extra)],
        capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, f"child died ({done.returncode}): {done.stderr[-3000:]}"
    return json.loads(done.stdout)


@pytest.mark.memory_accounting
@pytest.mark.parametrize("headroom_mib", [8, 48, 160], ids=["text-copy", "parse-tree", "records"])
def test_load_out_of_memory_is_memory_error_and_keeps_state(headroom_mib):
    records = 1_500_000  # a 30 MB command text
    report = run_capped(headroom_mib, "load", records)
    if report["outcome"] == "MemoryError":
        assert report["unchanged"]
    else:
        assert report["response"] == compact({"ok": True, "loaded": records})
        assert report["bounds"] == compact({"from_ts": 1, "to_ts": 1, "count": records})


@pytest.mark.memory_accounting
def test_frame_grid_too_large_to_hold_is_refused_without_crash():
    report = run_capped(256, "grid")
    assert report["unchanged"]
    if report["outcome"] == "response":
        assert report["response"].startswith('{"ok":false,"error":"'), report["response"]


@pytest.mark.memory_accounting
def test_many_grids_within_the_panel_limit_fail_cleanly_when_memory_runs_out():
    # 64 panels of 10 million cells each want about 9 GiB; under a 768 MiB cap
    # the frame must end in MemoryError (or a refusal), not in a crash.
    report = run_capped(768, "grids")
    assert report["unchanged"]
    if report["outcome"] == "response":
        assert report["response"].startswith('{"ok":false,"error":"data: '), report["response"]


@pytest.mark.memory_accounting
def test_grids_of_one_frame_are_limited_together():
    # Once a frame ended here in MemoryError under the cap, and without a cap
    # in the kernel's out-of-memory killer; now it is refused up front.
    report = run_capped(768, "grids")
    assert report["outcome"] == "response"
    assert report["response"].startswith('{"ok":false,"error":"data: frame grids too large: ')


@pytest.mark.memory_accounting
def test_panel_refusing_its_grid_keeps_later_grids_from_allocating():
    # Its own error is the frame's answer, so the panels after it never run.
    report = run_capped(256, "refused-first")
    assert report["outcome"] == "response"
    assert report["response"] == compact(
        {"ok": False, "error": "data: book_heatmap grid too large: 999001 buckets x 4294967295 levels"})


@pytest.mark.slow
@pytest.mark.memory_accounting
def test_gigabyte_load_works_or_raises_memory_error():
    limit_gib = int(os.environ.get("OVRA_HUGE_LIMIT_GIB", "8"))
    records = (1 << 30) // 18  # '[1,1.5,2.5,"buy"],' is 18 bytes
    report = run_capped(limit_gib * 1024, "load", records)
    print(report["outcome"], report["response"])
    if report["outcome"] == "MemoryError":
        assert report["unchanged"]
    else:
        assert report["response"] == compact({"ok": True, "loaded": records})


def test_response_to_a_refused_huge_command_is_small():
    # A long unknown name is echoed whole; a long garbage text is not.
    handle = Ovra("")
    name = "x" * (8 * MiB)
    assert handle.command(command(name)) == compact({"ok": False, "error": "bad spec: unknown cmd: " + name})
    response = handle.command("[" * (8 * MiB))
    assert response == '{"ok":false,"error":"parse: recursion limit exceeded at line 1 column 128"}'
    assert handle.command(command("bounds")) == bounds_text({})
