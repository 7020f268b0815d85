"""The viewer's HTTP routes: module texts pass unchanged, bad requests get a 4xx with an
envelope, the handle stays on its own thread, and a slow client blocks nobody."""

import json
import socket
import threading
import time
import urllib.error
import urllib.request

import pytest

from tavrin_ovra import Ovra, cli, sample
from tavrin_ovra.viewer import HandleThread, open_session, start_server

SPEC = sample.sample_spec()


@pytest.fixture(scope="module")
def dataset():
    return sample.sample_dataset(minutes=3)


@pytest.fixture(scope="module")
def viewer(dataset):
    server = start_server(open_session(dataset, SPEC))
    yield server
    server.shutdown()
    server.server_close()
    server.session.worker.close(5)


def request(server, path, body=None, kind="application/json", method=None):
    headers = {"Content-Type": kind} if body is not None else {}
    req = urllib.request.Request(server.url + path, data=body, headers=headers, method=method)
    try:
        with urllib.request.urlopen(req, timeout=10) as answer:
            return answer.status, answer.headers, answer.read().decode()
    except urllib.error.HTTPError as refused:
        return refused.code, refused.headers, refused.read().decode()


def fresh(dataset, *commands):
    """The module's answers on a handle of the test's own."""
    handle = Ovra(SPEC)
    handle.command('{"cmd":"load","dataset":%s}' % dataset)
    return [handle.command(c) for c in commands]


def test_frame_and_bounds_are_the_module_texts(viewer, dataset):
    start = sample.DEFAULT_START_TS
    status, headers, body = request(viewer, f"frame?ts={start + 90_000}")
    frame, bounds = fresh(dataset, '{"cmd":"frame_at","ts":%d}' % (start + 90_000), '{"cmd":"bounds"}')
    assert (status, body) == (200, frame)
    assert float(headers["X-Frame-Ms"]) >= 0
    assert request(viewer, "bounds")[::2] == (200, bounds)


@pytest.mark.parametrize("path, status, body", [
    ("frame", 400, '{"ok":false,"error":"frame needs ts, an integer number of milliseconds"}'),
    ("frame?ts=1.5", 400, '{"ok":false,"error":"frame needs ts, an integer number of milliseconds"}'),
    ("frame?ts=007", 400, '{"ok":false,"error":"frame needs ts, an integer number of milliseconds"}'),
    ("frame?ts=1,%22cmd%22:%22reset%22", 400,
     '{"ok":false,"error":"frame needs ts, an integer number of milliseconds"}'),
    ("frame?ts=9223372036854775808", 400, '{"ok":false,"error":"bad spec: frame_at requires integer \'ts\'"}'),
    ("frame?ts=-0", 400, '{"ok":false,"error":"bad spec: frame_at requires integer \'ts\'"}'),
    ("analysis?ts=x", 400, '{"ok":false,"error":"analysis needs ts, an integer number of milliseconds"}'),
    ("analysis?ts=1&ratio=0", 400, '{"ok":false,"error":"ratio must be a positive number"}'),
    ("analysis?ts=1&stack=two", 400, '{"ok":false,"error":"stack must be a number"}'),
    ("page.html", 404, '{"ok":false,"error":"no such route"}'),
    ("../cli.py", 404, '{"ok":false,"error":"no such route"}'),
    ("viewer/server.py", 404, '{"ok":false,"error":"no such route"}'),
], ids=lambda value: str(value)[:30])
def test_bad_requests(viewer, path, status, body):
    assert request(viewer, path)[::2] == (status, body)


@pytest.mark.parametrize("body, kind, status, answer", [
    (b'{"dataset_ref":"x","symbol":"","panels":[]}', "application/json", 400,
     '{"ok":false,"error":"bad spec: symbol must not be empty"}'),
    (b'{"x":1}', "application/json", 400, '{"ok":false,"error":"parse: missing field `dataset_ref`"}'),
    (b'1,"cmd":"reset"', "application/json", 400,
     '{"ok":false,"error":"the body must be one JSON value (a spec)"}'),
    (b'NaN', "application/json", 400, '{"ok":false,"error":"the body must be one JSON value (a spec)"}'),
    (b'{}', "text/plain", 415, '{"ok":false,"error":"POST /spec takes Content-Type application/json"}'),
], ids=["rule", "reading", "extra-members", "nan", "form-post"])
def test_refused_specs_leave_the_spec_in_force(viewer, body, kind, status, answer):
    before = request(viewer, "spec")[2]
    assert request(viewer, "spec", body, kind)[::2] == (status, answer)
    assert request(viewer, "spec")[2] == before


def test_set_spec_changes_the_frames(viewer, dataset):
    spec = json.loads(request(viewer, "spec")[2])
    assert spec["panels"][0] == {"kind": "footprint", "price_bin": 10.0, "bucket_ms": 60000}
    spec["panels"][0]["price_bin"] = 5.0
    spec["from_ts"] = sample.DEFAULT_START_TS + 60_000
    text = json.dumps(spec)
    try:
        assert request(viewer, "spec", text.encode())[::2] == (200, '{"ok":true}')
        handle = Ovra(text)
        handle.command('{"cmd":"load","dataset":%s}' % dataset)
        expected = handle.command('{"cmd":"frame_at","ts":%d}' % (sample.DEFAULT_START_TS + 150_000))
        assert request(viewer, f"frame?ts={sample.DEFAULT_START_TS + 150_000}")[2] == expected
    finally:
        request(viewer, "spec", json.dumps(json.loads(SPEC)).encode())


def test_analysis_reads_the_frame_at_the_cursor(viewer):
    ts = sample.DEFAULT_START_TS + 120_000
    frame = json.loads(request(viewer, f"frame?ts={ts}")[2])
    status, _, body = request(viewer, f"analysis?ts={ts}&ratio=2.5")
    from tavrin_ovra.analysis import frame_readouts
    assert status == 200
    assert json.loads(body) == {"cursor_ts": ts,
                                "footprints": frame_readouts(frame, json.loads(SPEC), ratio=2.5)}


def test_static_files_and_methods(viewer):
    status, headers, body = request(viewer, "?ts=5")
    assert status == 200 and headers["Content-Type"].startswith("text/html") and "page.js" in body
    for name, kind in (("page.js", "text/javascript"), ("page.css", "text/css")):
        status, headers, _ = request(viewer, name)
        assert status == 200 and headers["Content-Type"].startswith(kind)
    assert request(viewer, "frame?ts=1", b"{}")[::2] == (405, '{"ok":false,"error":"POST is not served at /frame"}')


def test_a_slow_client_blocks_nobody(viewer):
    stalled = socket.create_connection(viewer.server_address[:2])
    stalled.sendall(b"GET /frame?ts=1 HTTP/1.1\r\nHost: x\r\n")  # and then nothing
    try:
        began = time.monotonic()
        assert request(viewer, "bounds")[0] == 200
        assert time.monotonic() - began < 5
    finally:
        stalled.close()


def test_requests_from_many_threads_share_one_handle(viewer, dataset):
    ts = sample.DEFAULT_START_TS + 100_000
    expected = fresh(dataset, '{"cmd":"frame_at","ts":%d}' % ts)[0]
    answers = []
    threads = [threading.Thread(target=lambda: answers.append(request(viewer, f"frame?ts={ts}")[2]))
               for _ in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert answers == [expected] * 8


def test_the_handle_never_leaves_its_thread():
    worker = HandleThread("")
    try:
        names = {worker.call(lambda handle: threading.current_thread().name) for _ in range(3)}
        assert names == {"ovra-handle"}
        assert worker.command('{"cmd":"version"}')[0] == '{"version":"0.1.6"}'
        with pytest.raises(ZeroDivisionError):
            worker.call(lambda handle: 1 / 0)
        assert worker.command('{"cmd":"bounds"}')[0] == '{"ok":false,"error":"data: no dataset"}'
    finally:
        worker.close(5)
    with pytest.raises(ValueError, match="^bad spec: symbol must not be empty$"):
        HandleThread('{"dataset_ref":"x","symbol":"","panels":[]}')


def test_view_command_usage(capsys):
    assert cli.main(["view", "--dataset", "x.json"]) == 1
    assert "--dataset needs --spec" in capsys.readouterr().err
