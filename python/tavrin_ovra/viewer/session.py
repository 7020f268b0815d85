"""What the viewer's routes do, apart from HTTP: one handle (on its own thread), the spec
it holds, and the answers to "frame", "spec", "bounds" and "analysis" requests.

Every answer is a ``Reply``: a status, a JSON body and extra headers. Texts of the module go
out unchanged; a request the viewer refuses itself gets the same envelope shape,
``{"ok":false,"error":"..."}``, with a short message. Nothing in a request names a file.
"""

from __future__ import annotations

import json
import math
import re
from dataclasses import dataclass, field
from typing import Any, Dict, Mapping, Optional, Tuple

from .. import analysis
from .handle_thread import HandleThread, timed_command

__all__ = ["Reply", "Session", "open_session", "refusal", "spec_object"]

# A JSON integer as the module reads one: an optional minus and digits without a leading
# zero. Its range (and the negative zero) is left to the module to judge.
_INTEGER = re.compile(r"-?(0|[1-9][0-9]{0,24})")
_FIELDS = {
    "footprint": (("price_bin", 1.0), ("bucket_ms", 60_000)),
    "book_heatmap": (("price_bin", 1.0), ("bucket_ms", 60_000), ("depth_levels", 40)),
    "liquidation_map": (("price_bin", 1.0),),
    "funding_oi_divergence": (("bucket_ms", 60_000),),
}
_SPEC_FIELDS = ("dataset_ref", "symbol", "from_ts", "to_ts", "panels")
MAX_SPEC_BYTES = 1 << 20
COMMAND_TIMEOUT_S = 120.0


@dataclass
class Reply:
    status: int
    body: bytes
    headers: Dict[str, str] = field(default_factory=dict)


def refusal(status: int, message: str) -> Reply:
    return Reply(status, json.dumps({"ok": False, "error": message}, separators=(",", ":")).encode("utf-8"))


def _module_reply(response: str, headers: Optional[Dict[str, str]] = None) -> Reply:
    """The module's text unchanged; an error envelope is a client error, 422 when the
    request was well formed but the data cannot give the answer."""
    status = 200
    if response.startswith('{"ok":false'):
        status = 422 if response.startswith('{"ok":false,"error":"data: ') else 400
    return Reply(status, response.encode("utf-8"), headers or {})


class Session:
    """The viewer's handle and the spec it holds.

    ``spec_text`` is the spec the handle was given (already accepted by the module); it is
    kept in its object form, every default filled in, so that the page can edit it."""

    def __init__(self, worker: HandleThread, spec_text: str) -> None:
        self.worker = worker
        self.spec_text = spec_object_text(spec_text)
        self._cached: Optional[Tuple[str, str, str]] = None  # spec, ts, frame text
        response, _ = worker.command('{"cmd":"set_spec","spec":%s}' % self.spec_text,
                                     COMMAND_TIMEOUT_S)
        if response != '{"ok":true}':
            raise ValueError(f"the spec was refused: {response}")

    # -- routes ---------------------------------------------------------------------------

    def frame(self, ts: Optional[str]) -> Reply:
        if ts is None or not _INTEGER.fullmatch(ts):
            return refusal(400, "frame needs ts, an integer number of milliseconds")
        response, ms = self.worker.call(lambda handle: self._frame_job(handle, ts),
                                        COMMAND_TIMEOUT_S)
        return _module_reply(response, {"X-Frame-Ms": f"{ms:.3f}",
                                        "Server-Timing": f"frame;dur={ms:.3f}"})

    def bounds(self) -> Reply:
        response, _ = self.worker.command('{"cmd":"bounds"}', COMMAND_TIMEOUT_S)
        return _module_reply(response)

    def spec(self) -> Reply:
        return Reply(200, self.spec_text.encode("utf-8"))

    def set_spec(self, body: bytes) -> Reply:
        if len(body) > MAX_SPEC_BYTES:
            return refusal(413, "a spec is at most 1 MiB")
        try:
            text = body.decode("utf-8")
            _strict_json(text)
        except (UnicodeDecodeError, ValueError, RecursionError):
            # The body goes into the command text as one member value; it must be exactly
            # one JSON value, or it could add members of its own to the command.
            return refusal(400, "the body must be one JSON value (a spec)")
        response = self.worker.call(lambda handle: self._set_spec_job(handle, text),
                                    COMMAND_TIMEOUT_S)
        return _module_reply(response)

    def analysis(self, query: Mapping[str, str]) -> Reply:
        ts = query.get("ts")
        if ts is None or not _INTEGER.fullmatch(ts):
            return refusal(400, "analysis needs ts, an integer number of milliseconds")
        try:
            options = _analysis_options(query)
        except ValueError as bad:
            return refusal(400, str(bad))
        response, spec_text = self.worker.call(lambda handle: self._cached_frame(handle, ts),
                                               COMMAND_TIMEOUT_S)
        if response.startswith('{"ok":false'):
            return _module_reply(response)
        frame = json.loads(response)
        readouts = analysis.frame_readouts(frame, json.loads(spec_text), **options)
        body = {"cursor_ts": frame["cursor_ts"], "footprints": readouts}
        return Reply(200, json.dumps(body, separators=(",", ":"),
                                     allow_nan=False).encode("utf-8"))

    # -- jobs on the handle's thread ------------------------------------------------------

    def _frame_job(self, handle: Any, ts: str) -> Tuple[str, float]:
        response, ms = timed_command(handle, '{"cmd":"frame_at","ts":%s}' % ts)
        self._cached = (self.spec_text, ts, response)
        return response, ms

    def _cached_frame(self, handle: Any, ts: str) -> Tuple[str, str]:
        if self._cached and self._cached[:2] == (self.spec_text, ts):
            return self._cached[2], self.spec_text
        response, _ = self._frame_job(handle, ts)
        return response, self.spec_text

    def _set_spec_job(self, handle: Any, text: str) -> str:
        response = handle.command('{"cmd":"set_spec","spec":%s}' % text)
        if response == '{"ok":true}':
            self.spec_text = spec_object_text(text)
        return response


def _strict_json(text: str) -> Any:
    def refuse(name: str) -> Any:
        raise ValueError(name)
    return json.loads(text, parse_constant=refuse)


def _analysis_options(query: Mapping[str, str]) -> Dict[str, Any]:
    options: Dict[str, Any] = {}
    for name, kind in (("ratio", float), ("min_volume", float), ("stack", int)):
        if name in query:
            try:
                value = kind(query[name])
            except ValueError:
                raise ValueError(f"{name} must be a number") from None
            if not math.isfinite(value) or value < 0 or (name != "min_volume" and value <= 0):
                raise ValueError(f"{name} must be a positive number")
            options[name] = value
    return options


# -- the spec in its object form ------------------------------------------------------------

def spec_object(spec: Any) -> Dict[str, Any]:
    """A spec value that the module accepted, in its object form with every panel field
    present (array forms by position, defaults where a member was left out)."""
    if isinstance(spec, list):
        spec = dict(zip(_SPEC_FIELDS, spec))
    out = {name: spec.get(name) for name in _SPEC_FIELDS}
    out["panels"] = [_panel_object(panel) for panel in out["panels"] or []]
    return out


def spec_object_text(text: str) -> str:
    return json.dumps(spec_object(json.loads(text)), separators=(",", ":"))


def _panel_object(panel: Any) -> Dict[str, Any]:
    if isinstance(panel, list):
        kind, values = panel[0], panel[1:]
        given = {name: value for (name, _), value in zip(_FIELDS[kind], values)}
    else:
        kind, given = panel["kind"], panel
    out: Dict[str, Any] = {"kind": kind}
    for name, default in _FIELDS[kind]:
        out[name] = given.get(name, default)
    return out



def open_session(dataset_text: str, spec_text: str) -> Session:
    """A session on a new handle thread with ``dataset_text`` loaded and ``spec_text`` set.
    An error response of the module raises ``ValueError`` with its text."""
    worker = HandleThread("")
    try:
        response, _ = worker.command('{"cmd":"load","dataset":%s}' % dataset_text,
                                     COMMAND_TIMEOUT_S)
        if not response.startswith('{"ok":true'):
            raise ValueError(f"the dataset was refused: {response}")
        return Session(worker, spec_text)
    except BaseException:
        worker.close()
        raise
