"""Handles on many threads: concurrent frames are byte-identical to a
single-threaded run, a foreign thread cannot touch a handle's state, and
re-entering `command` (from `__del__` or a GC callback) cannot corrupt it."""

import gc
import os
import select
import signal
import subprocess
import sys
import threading
import warnings

import pytest


from hardening_data import (ALL_PANELS_SPEC, NO_DATASET, OK, bounds_text, command, loaded_text,
                            make_dataset, package_root, spec_handle)

THREADS = 8
UNSENDABLE = "_tavrin_ovra::PyOvra is unsendable, but sent to another thread"


def spec_for(k):
    """Each thread gets its own spec: different bins and a window for some."""
    spec = dict(ALL_PANELS_SPEC, symbol=f"SYM{k}")
    spec["panels"] = [dict(p) for p in ALL_PANELS_SPEC["panels"]]
    spec["panels"][0]["price_bin"] = 0.25 * (k + 1)
    if k % 2:
        spec["from_ts"] = 1_700_000_000_000 + 10_000 * k
    return spec


def workload(k):
    dataset = make_dataset(seed=k, records=400)
    cursors = [1_700_000_000_000 + 7_919 * j * (k + 1) for j in range(6)]
    return spec_for(k), dataset, cursors


def run_workload(k, rounds=2):
    """Everything one thread does, returned as the list of responses."""
    spec, dataset, cursors = workload(k)
    handle = spec_handle(spec)
    out = []
    for _ in range(rounds):
        out.append(handle.command(command("load", dataset=dataset)))
        out.extend(handle.command(command("frame_at", ts=ts)) for ts in cursors)
        out.append(handle.command(command("frame")))
        out.append(handle.command(command("bounds")))
    out.append(handle.command(command("reset")))
    out.append(handle.command(command("frame")))
    return out


def run_on_threads(target, count):
    # Garbage handles of earlier tests must not be collected on a worker
    # thread (that drop is refused, and reported, by design).
    gc.collect()
    results = [None] * count
    errors = []
    barrier = threading.Barrier(count)

    def body(k):
        try:
            barrier.wait()
            results[k] = target(k)
        except BaseException as exc:  # pragma: no cover - reported below
            errors.append((k, exc))

    threads = [threading.Thread(target=body, args=(k,)) for k in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors, errors
    return results


@pytest.fixture(scope="module")
def single_threaded():
    return [run_workload(k) for k in range(THREADS)]


def test_workload_answers_frames(single_threaded):
    # Guards the comparison below against comparing error texts only.
    spec, dataset, _ = workload(0)
    responses = single_threaded[0]
    assert responses[0] == loaded_text(dataset)
    assert responses[1].startswith('{"symbol":"SYM0","cursor_ts":')
    assert responses[8] == bounds_text(dataset)
    assert responses[-1] == NO_DATASET


def test_eight_threads_match_single_threaded_run(single_threaded):
    assert run_on_threads(run_workload, THREADS) == single_threaded


def test_threads_sharing_one_workload_agree():
    # All threads ask for the same frames at once: one answer, eight times.
    results = run_on_threads(lambda k: run_workload(3, rounds=1), THREADS)
    assert all(r == results[0] for r in results)


def test_pool_size_does_not_change_frames():
    script = (
        "import sys; sys.path.insert(0, sys.argv[1]); sys.path.insert(0, sys.argv[2]);"
        "import test_threads as t; print('\\n'.join(t.run_workload(5, rounds=1)))"
    )
    outputs = set()
    for pool in ("1", "2", "8"):
        env = dict(os.environ, RAYON_NUM_THREADS=pool)
        done = subprocess.run([sys.executable, "-c", script, package_root(), os.path.dirname(__file__)],
                              env=env, capture_output=True, text=True, timeout=120)
        assert done.returncode == 0, done.stderr
        outputs.add(done.stdout)
    assert len(outputs) == 1
    assert outputs.pop().splitlines() == run_workload(5, rounds=1)


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
def test_forked_child_computes_frames_on_a_pool_of_its_own():
    # The parent's workers do not survive the fork; the child must neither hang
    # waiting for them nor answer differently.
    handle, spec, dataset = loaded_handle(4)
    expected = handle.command(command("frame"))  # the pool exists from here on
    read_end, write_end = os.pipe()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # fork with threads, 3.12+
        pid = os.fork()
    if pid == 0:  # pragma: no cover - child
        try:
            fresh = spec_handle(spec)
            fresh.command(command("load", dataset=dataset))
            answers = [handle.command(command("frame")), fresh.command(command("frame"))]
            os.write(write_end, "\n".join(answers).encode())
        finally:
            os._exit(0)
    os.close(write_end)
    chunks = []
    try:
        while True:
            ready, _, _ = select.select([read_end], [], [], 60)
            if not ready:
                os.kill(pid, signal.SIGKILL)
                pytest.fail("the forked child hangs")
            chunk = os.read(read_end, 1 << 16)
            if not chunk:
                break
            chunks.append(chunk)
    finally:
        os.close(read_end)
        _, status = os.waitpid(pid, 0)
    assert os.waitstatus_to_exitcode(status) == 0
    assert b"".join(chunks).decode().split("\n") == [expected, expected]


def loaded_handle(k=0):
    spec, dataset, _ = workload(k)
    handle = spec_handle(spec)
    assert handle.command(command("load", dataset=dataset)) == loaded_text(dataset)
    return handle, spec, dataset


def snapshot(handle):
    return handle.command(command("bounds")), handle.command(command("frame")), handle.command(command("version"))


FOREIGN_COMMANDS = [
    pytest.param(command("reset"), id="reset"),
    pytest.param(command("load", dataset={}), id="load-empty"),
    pytest.param(command("load", dataset=None), id="load-invalid"),
    pytest.param(command("set_spec", spec=dict(ALL_PANELS_SPEC, symbol="OTHER")), id="set_spec"),
    pytest.param(command("frame"), id="frame"),
    pytest.param(command("bounds"), id="bounds"),
    pytest.param("not json", id="garbage"),
]


@pytest.mark.parametrize("text", FOREIGN_COMMANDS)
def test_foreign_thread_is_refused_and_state_is_untouched(text):
    handle, _, _ = loaded_handle()
    before = snapshot(handle)
    outcome = []

    def foreign():
        try:
            outcome.append(("returned", handle.command(text)))
        except Exception as exc:
            outcome.append(("raised", str(exc)))

    t = threading.Thread(target=foreign)
    t.start()
    t.join()
    assert outcome == [("raised", UNSENDABLE)]
    assert snapshot(handle) == before


def test_owner_keeps_working_while_other_threads_are_refused():
    handle, spec, dataset = loaded_handle(2)
    other = make_dataset(seed=99, records=50)
    refusals = []
    stop = threading.Event()

    def intruder():
        while not stop.is_set():
            try:
                handle.command(command("load", dataset=other))
            except Exception as exc:
                refusals.append(str(exc))

    intruders = [threading.Thread(target=intruder) for _ in range(4)]
    for t in intruders:
        t.start()
    try:
        for _ in range(30):
            assert handle.command(command("bounds")) == bounds_text(dataset)
            assert handle.command(command("reset")) == OK
            assert handle.command(command("load", dataset=dataset)) == loaded_text(dataset)
    finally:
        stop.set()
        for t in intruders:
            t.join()
    assert refusals and set(refusals) == {UNSENDABLE}
    assert handle.command(command("bounds")) == bounds_text(dataset)


def test_handles_dropped_on_foreign_threads_do_not_disturb_others():
    # The owner thread ends; the last reference goes on this thread. The
    # module must not free (or touch) the records from here.
    gc.collect()
    hooked = []
    previous = sys.unraisablehook
    sys.unraisablehook = lambda info: hooked.append(type(info.exc_value))
    try:
        boxes = run_on_threads(lambda k: [loaded_handle(k)[0]], 4)
        del boxes
        gc.collect()
    finally:
        sys.unraisablehook = previous
    assert hooked == [RuntimeError] * 4
    handle, _, dataset = loaded_handle(1)
    assert handle.command(command("bounds")) == bounds_text(dataset)


class Reenter:
    """Garbage with a finaliser that drives the handle: kept in a reference
    cycle so that it dies inside whatever allocation triggers the collector."""

    def __init__(self, handle, text, log):
        self.handle, self.text, self.log = handle, text, log
        self.cycle = self

    def __del__(self):
        try:
            self.log.append(("inner", self.text, self.handle.command(self.text)))
        except RuntimeError as exc:
            self.log.append(("refused", self.text, str(exc)))


def test_reentry_from_the_type_name_of_a_refused_argument():
    # Naming the wrong argument type may run Python code (a metaclass
    # property); by then the handle must be free again, and the command run
    # from there must apply whole.
    handle, _, _ = loaded_handle(5)
    other = make_dataset(seed=55, records=40)
    inner = []

    class Meta(type):
        @property
        def __name__(cls):
            inner.append(handle.command(command("load", dataset=other)))
            return "Sneaky"

    class Sneaky(metaclass=Meta):
        pass

    with pytest.raises(TypeError, match="not Sneaky"):
        handle.command(Sneaky())
    assert inner == [loaded_text(other)]
    assert handle.command(command("bounds")) == bounds_text(other)


@pytest.fixture
def eager_gc():
    thresholds = gc.get_threshold()
    gc.collect()
    gc.set_threshold(1, 1, 1)
    yield
    gc.set_threshold(*thresholds)
    gc.collect()


def test_reentrant_commands_from_finalisers_keep_state_whole(eager_gc):
    a = make_dataset(seed=11, records=60)
    b = make_dataset(seed=12, records=70)
    load = {"A": command("load", dataset=a), "B": command("load", dataset=b)}
    broken = {k: "\ud800" + text for k, text in load.items()}
    handle = spec_handle(ALL_PANELS_SPEC)
    log = []
    raised = []
    for i in range(300):
        outer, inner = ("A", "B") if i % 2 else ("B", "A")
        # The garbage is made with the collector off, so that the first
        # tracked allocation after it, inside `command`, collects it.
        gc.disable()
        Reenter(handle, load[inner], log)
        Reenter(handle, command("frame"), log)
        argument = 1234 if i % 3 == 0 else broken[outer] if i % 3 == 1 else load[outer]
        gc.enable()
        try:
            response = handle.command(argument)
        except (TypeError, UnicodeEncodeError) as exc:
            # The encoding error is raised while the handle is still taken:
            # finalisers run by its allocation find the handle in use.
            raised.append(type(exc))
        else:
            log.append(("outer", argument, response))
    gc.collect()
    assert set(raised) == {TypeError, UnicodeEncodeError}
    assert handle.command(command("version")) == '{"version":"0.1.6"}'
    # Loads replace the dataset whole, so it is the one of the last load that
    # finished, whoever ran it.
    finished = [text for kind, text, response in log if kind in ("inner", "outer") and text in load.values()]
    refused = [response for kind, _, response in log if kind == "refused"]
    assert refused and set(refused) == {"Already borrowed"}
    last = a if finished[-1] == load["A"] else b
    assert handle.command(command("bounds")) == bounds_text(last)
    fresh = spec_handle(ALL_PANELS_SPEC)
    fresh.command(command("load", dataset=last))
    assert handle.command(command("frame")) == fresh.command(command("frame"))


def test_reentrant_commands_from_gc_callbacks_keep_state_whole(eager_gc):
    dataset = make_dataset(seed=21, records=80)
    handle = spec_handle(ALL_PANELS_SPEC)
    handle.command(command("load", dataset=dataset))
    expected = snapshot(handle)
    seen = []

    def on_collect(phase, info):
        if phase != "start":
            return
        try:
            seen.append(handle.command(command("frame")))
            seen.append(handle.command(command("set_spec", spec={"bad": 1})))
        except RuntimeError as exc:
            seen.append(str(exc))

    gc.callbacks.append(on_collect)
    bad_ts = command("frame_at", ts=1.5)
    surrogate = "\ud800" + command("reset")
    try:
        for i in range(300):
            gc.disable()
            [[]]  # counts towards the next collection
            argument = None if i % 3 == 0 else surrogate if i % 3 == 1 else bad_ts
            gc.enable()
            try:
                response = handle.command(argument)
            except (TypeError, UnicodeEncodeError):
                continue
            assert response == '{"ok":false,"error":"bad spec: frame_at requires integer \'ts\'"}'
    finally:
        gc.callbacks.remove(on_collect)
    assert "Already borrowed" in seen
    for answer in seen:
        assert answer in (expected[1], "Already borrowed") or answer.startswith('{"ok":false,"error":"parse: ')
    assert snapshot(handle) == expected
