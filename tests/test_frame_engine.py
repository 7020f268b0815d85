"""The "frame" and "frame_at" commands: window bounds and cursor clamping,
record order, panel order with repeated kinds, symbol escaping, and the worker
pool (same bytes for any pool size, frames in forked children, clean exit)."""

import json
import os
import subprocess
import sys
import textwrap

import pytest

import tavrin_ovra

I64_MIN = -(2**63)
I64_MAX = 2**63 - 1
PYTHON_DIR = os.path.dirname(tavrin_ovra.__path__[0])


def spec_text(panels, symbol="S", from_ts=None, to_ts=None):
    return json.dumps({"dataset_ref": "d", "symbol": symbol, "from_ts": from_ts, "to_ts": to_ts, "panels": panels},
                      separators=(",", ":"))


def make_handle(dataset, panels, **window):
    handle = tavrin_ovra.Ovra("")
    assert handle.command('{"cmd":"load","dataset":%s}' % json.dumps(dataset)).startswith('{"ok":true')
    assert handle.command('{"cmd":"set_spec","spec":%s}' % spec_text(panels, **window)) == '{"ok":true}'
    return handle


def frame_at(handle, ts):
    return handle.command('{"cmd":"frame_at","ts":%d}' % ts)


LIQ_MAP = {"kind": "liquidation_map", "price_bin": 1}


def liquidation_ts(frame_text):
    """The ts of every mark of a one-panel liquidation map frame, and the cursor."""
    frame = json.loads(frame_text)
    return [e["ts"] for e in frame["panels"][0]["events"]], frame["cursor_ts"]


# One liquidation every 1000 ms from 1000 to 5000.
STEPS = {"liquidations": [[ts, 100.0, 1.0, "long"] for ts in range(1000, 6000, 1000)]}


# --- window and cursor clamping ----------------------------------------------

@pytest.mark.parametrize(
    "window, cursor, visible, cursor_ts",
    [
        pytest.param({"to_ts": 3000}, 9000, [1000, 2000, 3000], 3000, id="cursor-after-to_ts-clamped"),
        pytest.param({"to_ts": 3000}, 2500, [1000, 2000], 2500, id="cursor-before-to_ts"),
        pytest.param({}, 2999, [1000, 2000], 2999, id="no-to_ts-upper-plus-one-excluded"),
        pytest.param({}, 3000, [1000, 2000, 3000], 3000, id="record-at-upper-included"),
        pytest.param({"from_ts": 2000}, 4000, [2000, 3000, 4000], 4000, id="record-at-from_ts-included"),
        pytest.param({"from_ts": 2001}, 4000, [3000, 4000], 4000, id="from_ts-plus-one"),
        pytest.param({"from_ts": 2000, "to_ts": 4000}, 1500, [], 1500, id="cursor-before-from_ts-empty"),
        pytest.param({"from_ts": 6000}, 9000, [], 9000, id="data-ends-before-from_ts"),
        pytest.param({}, I64_MAX, [1000, 2000, 3000, 4000, 5000], I64_MAX, id="no-from_ts-takes-all"),
        pytest.param({}, I64_MIN, [], I64_MIN, id="cursor-i64-min"),
        pytest.param({"from_ts": I64_MIN, "to_ts": I64_MAX}, I64_MAX, [1000, 2000, 3000, 4000, 5000], I64_MAX,
                     id="extreme-window"),
        pytest.param({"to_ts": I64_MIN}, 0, [], I64_MIN, id="to_ts-i64-min"),
    ],
)
def test_window(window, cursor, visible, cursor_ts):
    handle = make_handle(STEPS, [LIQ_MAP], **window)
    assert liquidation_ts(frame_at(handle, cursor)) == (visible, cursor_ts)


def test_equal_ts_keep_stored_order():
    # Same ts, bin and side: only the quantity tells them apart; out-of-order
    # input is ordered by ts on load, equal stamps keep the input order.
    dataset = {"liquidations": [[7, 100.0, 3.0, "long"], [5, 100.0, 1.0, "long"], [7, 100.0, 2.0, "long"],
                                [5, 100.0, 4.0, "long"], [9, 100.0, 5.0, "long"]]}
    handle = make_handle(dataset, [LIQ_MAP])
    events = json.loads(frame_at(handle, 8))["panels"][0]["events"]
    assert [(e["ts"], e["qty"]) for e in events] == [(5, 1.0), (5, 4.0), (7, 3.0), (7, 2.0)]


def test_every_series_is_cut():
    # Footprint sees trades, the liquidation map liquidations: a record one
    # millisecond past the cursor shows in neither.
    dataset = {"trades": [[10, 100.0, 1.0, "buy"], [11, 100.0, 2.0, "buy"]],
               "liquidations": [[10, 100.0, 1.0, "short"], [11, 100.0, 2.0, "short"]]}
    handle = make_handle(dataset, [{"kind": "footprint"}, LIQ_MAP])
    at_10 = frame_at(handle, 10)
    assert at_10 == frame_at(make_handle({k: v[:1] for k, v in dataset.items()}, [{"kind": "footprint"}, LIQ_MAP]), 10)
    assert at_10 != frame_at(handle, 11)


# --- "frame" cursor and the frame object -------------------------------------

@pytest.mark.parametrize(
    "window, cursor_ts",
    [
        pytest.param({"to_ts": 2500}, 2500, id="spec-to_ts"),
        pytest.param({"to_ts": 90000}, 90000, id="spec-to_ts-beyond-data"),
        pytest.param({"to_ts": -5}, -5, id="spec-to_ts-before-data"),
        pytest.param({}, 8000, id="latest-ts-of-any-series"),
        pytest.param({"from_ts": 1000}, 8000, id="from_ts-alone"),
    ],
)
def test_frame_cursor(window, cursor_ts):
    # The latest stamp is in the oi series, not in the panel's own one.
    dataset = dict(STEPS, oi=[[8000, 1.0], [500, 2.0]])
    handle = make_handle(dataset, [LIQ_MAP], **window)
    text = handle.command('{"cmd":"frame"}')
    assert json.loads(text)["cursor_ts"] == cursor_ts
    assert text == frame_at(handle, cursor_ts)


NEEDS_INTEGER_TS = '{"ok":false,"error":"bad spec: frame_at requires integer \'ts\'"}'


@pytest.mark.parametrize(
    "ts_text, cursor_ts",
    [
        pytest.param("9223372036854775807", I64_MAX, id="i64-max"),
        pytest.param("-9223372036854775808", I64_MIN, id="i64-min"),
        pytest.param("-5", -5, id="negative"),
        pytest.param("0", 0, id="zero"),
        pytest.param("9223372036854775808", None, id="above-i64"),
        pytest.param("1.0", None, id="fraction"),
        pytest.param("1e3", None, id="exponent"),
        pytest.param("-0", None, id="negative-zero"),
        pytest.param('"5"', None, id="string"),
        pytest.param("null", None, id="null"),
    ],
)
def test_frame_at_cursor_forms(ts_text, cursor_ts):
    handle = make_handle(STEPS, [LIQ_MAP])
    answer = handle.command('{"cmd":"frame_at","ts":%s}' % ts_text)
    if cursor_ts is None:
        assert answer == NEEDS_INTEGER_TS
    else:
        assert json.loads(answer)["cursor_ts"] == cursor_ts


def test_frame_needs_spec_before_data():
    handle = tavrin_ovra.Ovra("")
    no_spec = '{"ok":false,"error":"bad spec: no spec set"}'
    assert handle.command('{"cmd":"frame"}') == handle.command('{"cmd":"frame_at","ts":1}') == no_spec
    assert handle.command('{"cmd":"set_spec","spec":%s}' % spec_text([LIQ_MAP])) == '{"ok":true}'
    no_data = '{"ok":false,"error":"data: no dataset"}'
    assert handle.command('{"cmd":"frame"}') == handle.command('{"cmd":"frame_at","ts":1}') == no_data


@pytest.mark.parametrize(
    "symbol, written",
    [
        pytest.param('a"b', r'"a\"b"', id="quote"),
        pytest.param("a\\b", r'"a\\b"', id="backslash"),
        pytest.param("\t\n\r\b\f", r'"\t\n\r\b\f"', id="short-escapes"),
        pytest.param("\x01\x1b\x1f\x00", r'"\u0001\u001b\u001f\u0000"', id="control-bytes"),
        pytest.param("é/\x7f€", '"é/\x7f€"', id="passed-through"),
    ],
)
def test_symbol_escaping(symbol, written):
    handle = make_handle(STEPS, [LIQ_MAP], symbol=symbol)
    empty_map = '{"kind":"liquidation_map","events":[]}'
    assert frame_at(handle, 0) == '{"symbol":%s,"cursor_ts":0,"panels":[%s]}' % (written, empty_map)


def test_exact_frame_text():
    handle = make_handle(STEPS, [LIQ_MAP, {"kind": "footprint"}], to_ts=1000)
    assert frame_at(handle, I64_MAX) == (
        '{"symbol":"S","cursor_ts":1000,"panels":['
        '{"kind":"liquidation_map","events":[{"ts":1000,"price_bin":100.0,"qty":1.0,"side":"long"}]},'
        '{"kind":"footprint","price_bins":[],"buy_vol":[],"sell_vol":[]}]}'
    )


def test_frame_outlives_spec_change():
    handle = make_handle(STEPS, [LIQ_MAP], symbol="A")
    before = frame_at(handle, 3000)
    assert handle.command('{"cmd":"set_spec","spec":%s}' % spec_text([LIQ_MAP], symbol="B")) == '{"ok":true}'
    assert before.startswith('{"symbol":"A"')
    assert frame_at(handle, 3000) == before.replace('"A"', '"B"', 1)


# --- panel order --------------------------------------------------------------

MIXED = {
    "trades": [[ts, 100.0 + ts % 7, 1.0 + ts % 3, "buy" if ts % 2 else "sell"] for ts in range(0, 600000, 997)],
    "book": [[ts, "snapshot" if ts % 50000 == 0 else "diff", [[99.0 - ts % 5, 2.0]], [[101.0 + ts % 5, 3.0]]]
             for ts in range(0, 600000, 5000)],
    "candles": [[ts, 100, 101, 99, 100.0 + ts % 11, 5] for ts in range(0, 600000, 60000)],
    "funding": [[ts, 0.0001 * (ts // 100000)] for ts in range(0, 600000, 100000)],
    "oi": [[ts, 1000.0 + ts // 1000] for ts in range(0, 600000, 30000)],
    "liquidations": [[ts, 100.0 + ts % 13, 0.5, "long" if ts % 2 else "short"] for ts in range(0, 600000, 7919)],
}
PANELS = [
    {"kind": "footprint", "price_bin": 1},
    {"kind": "book_heatmap", "price_bin": 1, "bucket_ms": 60000, "depth_levels": 4},
    {"kind": "footprint", "price_bin": 5},
    {"kind": "liquidation_map", "price_bin": 2},
    {"kind": "funding_oi_divergence", "bucket_ms": 60000},
    {"kind": "footprint", "price_bin": 1},
    {"kind": "liquidation_map", "price_bin": 0.5},
]


def panel_texts(frame_text):
    """The panel objects of a frame text, exactly as written."""
    head, _, rest = frame_text.partition(',"panels":[')
    assert rest.endswith("]}")
    return head, rest[:-2]


@pytest.mark.parametrize("count", [2, 3, 5, 7])
def test_panels_in_spec_order_each_computed_alone(count):
    panels = PANELS[:count]
    full = frame_at(make_handle(MIXED, panels), 400000)
    alone = [panel_texts(frame_at(make_handle(MIXED, [p]), 400000))[1] for p in panels]
    assert panel_texts(full)[1] == ",".join(alone)
    assert [p["kind"] for p in json.loads(full)["panels"]] == [p["kind"] for p in panels]


HUGE_SPAN = {"book": [[0, "snapshot", [[99.0, 1.0]], [[101.0, 1.0]]], [10**12, "diff", [], []]],
             "oi": [[0, 1.0], [10**12, 2.0]]}
GRID_PANELS = {
    "heatmap": {"kind": "book_heatmap", "bucket_ms": 1},
    "divergence": {"kind": "funding_oi_divergence", "bucket_ms": 1},
    "map": LIQ_MAP,
}


@pytest.mark.parametrize(
    "order, failing",
    [
        pytest.param(["map", "divergence", "heatmap"], "funding_oi_divergence", id="divergence-first"),
        pytest.param(["heatmap", "map", "divergence"], "book_heatmap", id="heatmap-first"),
        pytest.param(["map", "map", "heatmap", "map"], "book_heatmap", id="one-failing"),
    ],
)
def test_first_failing_panel_in_spec_order_is_reported(order, failing):
    handle = make_handle(HUGE_SPAN, [GRID_PANELS[name] for name in order])
    for _ in range(5):  # whatever thread finishes first
        assert frame_at(handle, 10**12).startswith('{"ok":false,"error":"data: %s grid too large' % failing)


def test_repeated_frames_are_identical():
    handle = make_handle(MIXED, PANELS)
    first = frame_at(handle, 300000)
    assert all(frame_at(handle, 300000) == first for _ in range(20))


# --- worker pool --------------------------------------------------------------

def run_python(code, env_extra=None, timeout=120):
    """Runs code in a fresh interpreter that imports this build; a hang fails by timeout."""
    env = dict(os.environ, PYTHONPATH=PYTHON_DIR)
    env.pop("RAYON_NUM_THREADS", None)
    env.update(env_extra or {})
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=env, capture_output=True,
                          text=True, timeout=timeout)


FRAMES_SCRIPT = """
import hashlib, json, sys
sys.path.insert(0, %r)
import tavrin_ovra
from test_frame_engine import MIXED, PANELS, make_handle
h = make_handle(MIXED, PANELS)
digest = hashlib.sha256()
for ts in range(0, 650000, 25000):
    digest.update(h.command('{"cmd":"frame_at","ts":%%d}' %% ts).encode())
print(digest.hexdigest())
""" % os.path.dirname(__file__)


def test_same_bytes_for_any_pool_size():
    outputs = set()
    for threads in ["1", "2", "4", "16", None, "0", "abc", "+3"]:
        result = run_python(FRAMES_SCRIPT, {"RAYON_NUM_THREADS": threads} if threads else None)
        assert result.returncode == 0, result.stderr
        outputs.add(result.stdout)
    assert len(outputs) == 1


FORK_SCRIPT = """
import json, multiprocessing, os, sys
sys.path.insert(0, %r)
import tavrin_ovra
from test_frame_engine import MIXED, PANELS, make_handle

def frame(ts):
    h = make_handle(MIXED, PANELS)
    return h.command('{"cmd":"frame_at","ts":%%d}' %% ts)

expected = [frame(ts) for ts in (100000, 300000, 500000)]  # the pool now runs

read_end, write_end = os.pipe()
pid = os.fork()
if pid == 0:
    os.close(read_end)
    ok = frame(300000) == expected[1]
    os.write(write_end, b"ok" if ok else b"bad")
    os._exit(0)
os.close(write_end)
assert os.read(read_end, 10) == b"ok"
assert os.waitpid(pid, 0)[1] == 0

with multiprocessing.get_context("fork").Pool(2) as pool:
    assert pool.map(frame, (100000, 300000, 500000)) == expected
print("done")
""" % os.path.dirname(__file__)


@pytest.mark.parametrize("threads", ["1", "4"])
def test_forked_children_compute_frames(threads):
    result = run_python(FORK_SCRIPT, {"RAYON_NUM_THREADS": threads})
    assert (result.returncode, result.stdout, result.stderr) == (0, "done\n", "")


def test_exit_right_after_frames():
    # Workers stay parked when the interpreter ends, from the main thread or
    # while another Python thread is still computing frames.
    code = """
    import json, sys, threading
    sys.path.insert(0, %r)
    import tavrin_ovra
    from test_frame_engine import MIXED, PANELS, make_handle

    def loop():
        h = make_handle(MIXED, PANELS)
        while True:
            h.command('{"cmd":"frame_at","ts":400000}')

    h = make_handle(MIXED, PANELS)
    h.command('{"cmd":"frame"}')
    threading.Thread(target=loop, daemon=True).start()
    print("bye")
    """ % os.path.dirname(__file__)
    for _ in range(3):
        result = run_python(code, {"RAYON_NUM_THREADS": "4"}, timeout=60)
        assert (result.returncode, result.stdout) == (0, "bye\n"), result.stderr
