"""The viewer's HTTP server: standard library only, fixed routes, one handle.

Routes (anything else is 404, a wrong method 405):

    GET  /                  the page (a query string, such as ?ts=..., is the page's own)
    GET  /page.css, /page.js, /favicon.ico   its static files, shipped in this package
    GET  /frame?ts=N        the module's frame text at cursor N, unchanged
    GET  /bounds            the module's bounds text
    GET  /spec              the spec in force, in its object form
    POST /spec              set_spec with the body (a spec JSON, Content-Type application/json)
    GET  /analysis?ts=N     order-flow readouts of the footprint panels at N
                            (optional ratio=, min_volume=, stack=)

Each connection is served on a thread of its own, with a socket timeout, so a slow client
holds only its own thread; every command runs on the handle's thread (``HandleThread``).
"""

from __future__ import annotations

import sys
import threading
from concurrent.futures import TimeoutError as WaitTimeout
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from importlib import resources
from typing import Callable, Dict, Optional, Tuple
from urllib.parse import parse_qs, urlsplit

from .session import Reply, Session, refusal

__all__ = ["ViewerServer", "start_server"]

SOCKET_TIMEOUT_S = 10.0
MAX_BODY_BYTES = 1 << 20
_STATIC = {
    "/": ("page.html", "text/html; charset=utf-8"),
    "/page.css": ("page.css", "text/css; charset=utf-8"),
    "/page.js": ("page.js", "text/javascript; charset=utf-8"),
}


def _static_files() -> Dict[str, Tuple[bytes, str]]:
    folder = resources.files(__package__)
    return {route: (folder.joinpath(name).read_bytes(), kind)
            for route, (name, kind) in _STATIC.items()}


class ViewerServer(ThreadingHTTPServer):
    """A ``ThreadingHTTPServer`` answering the viewer's routes from ``session``."""

    daemon_threads = True
    # a burst of page loads must not be refused by a short listen queue
    request_queue_size = 64

    def __init__(self, address: Tuple[str, int], session: Session,
                 log: Optional[Callable[[str], None]] = None) -> None:
        self.session = session
        self.static = _static_files()
        self.log = log
        super().__init__(address, _Handler)

    def handle_error(self, request: object, client_address: Tuple[str, int]) -> None:
        # a browser that closes or resets a connection is routine, not worth a traceback
        if isinstance(sys.exc_info()[1], (ConnectionError, TimeoutError)):
            return
        super().handle_error(request, client_address)

    @property
    def url(self) -> str:
        host, port = self.server_address[:2]
        shown = f"[{host}]" if ":" in str(host) else host
        return f"http://{shown}:{port}/"


def start_server(session: Session, host: str = "127.0.0.1", port: int = 0,
                 log: Optional[Callable[[str], None]] = None) -> ViewerServer:
    """A running server (on a daemon thread); ``shutdown()`` stops it."""
    server = ViewerServer((host, port), session, log)
    threading.Thread(target=server.serve_forever, name="viewer-http", daemon=True).start()
    return server


class _Handler(BaseHTTPRequestHandler):
    server: ViewerServer
    protocol_version = "HTTP/1.1"  # keep-alive: the page's requests reuse one connection
    timeout = SOCKET_TIMEOUT_S
    server_version = "tavrin-ovra-viewer"

    def do_GET(self) -> None:
        self._answer(head=False)

    def do_HEAD(self) -> None:
        self._answer(head=True)

    def do_POST(self) -> None:
        path, _ = self._target()
        if path != "/spec":
            self._send(self._unknown(path, "POST"))
            return
        length = self.headers.get("Content-Length")
        if length is None or not length.isdigit():
            self._send(refusal(411, "POST /spec needs a Content-Length"))
            self.close_connection = True
            return
        if int(length) > MAX_BODY_BYTES:
            self._send(refusal(413, "a spec is at most 1 MiB"))
            self.close_connection = True
            return
        body = self.rfile.read(int(length))
        kind = (self.headers.get("Content-Type") or "").split(";")[0].strip().lower()
        if kind != "application/json":
            # a plain form post from another site must not change the spec
            self._send(refusal(415, "POST /spec takes Content-Type application/json"))
            return
        self._send(self._guarded(lambda: self.server.session.set_spec(body)))

    def _answer(self, head: bool) -> None:
        path, query = self._target()
        session = self.server.session
        if path in self.server.static:
            data, kind = self.server.static[path]
            self._send(Reply(200, data, {"Content-Type": kind}), head)
        elif path == "/frame":
            self._send(self._guarded(lambda: session.frame(query.get("ts"))), head)
        elif path == "/bounds":
            self._send(self._guarded(session.bounds), head)
        elif path == "/spec":
            self._send(session.spec(), head)
        elif path == "/analysis":
            self._send(self._guarded(lambda: session.analysis(query)), head)
        elif path == "/favicon.ico":
            self._send(Reply(204, b""), head)
        else:
            self._send(self._unknown(path, "GET"), head)

    def _guarded(self, answer: Callable[[], Reply]) -> Reply:
        try:
            return answer()
        except WaitTimeout:
            # the handle's thread is busy past the wait bound: say so and go on serving
            return refusal(503, "the viewer is busy; try again")
        except Exception as fault:  # a fault of ours: a short answer, the server goes on
            self.log_message("fault: %s: %s", type(fault).__name__, fault)
            return refusal(500, f"internal error: {type(fault).__name__}")

    def _unknown(self, path: str, method: str) -> Reply:
        known = {"/frame", "/bounds", "/spec", "/analysis", "/favicon.ico", *self.server.static}
        if path in known:
            return refusal(405, f"{method} is not served at {path}")
        return refusal(404, "no such route")

    def _target(self) -> Tuple[str, Dict[str, str]]:
        parts = urlsplit(self.path)
        query = {name: values[-1] for name, values in parse_qs(parts.query).items()}
        return parts.path, query

    def _send(self, reply: Reply, head: bool = False) -> None:
        try:
            self.send_response(reply.status)
            headers = {"Content-Type": "application/json; charset=utf-8",
                       "Cache-Control": "no-store", **reply.headers}
            for name, value in headers.items():
                self.send_header(name, value)
            self.send_header("Content-Length", str(len(reply.body)))
            self.end_headers()
            if not head:
                self.wfile.write(reply.body)
        except OSError:
            self.close_connection = True  # the client went away or stopped reading

    def log_message(self, format: str, *args: object) -> None:  # noqa: A002
        if self.server.log is not None:
            self.server.log(f"{self.address_string()} {format % args}")

    def log_error(self, format: str, *args: object) -> None:  # noqa: A002
        # socket timeouts of idle keep-alive connections are routine, not worth a line
        if self.server.log is not None:
            self.log_message(format, *args)

