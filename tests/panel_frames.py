"""Running one panel through the public commands, and the texts it answers."""

import json

import pytest

import tavrin_ovra

I64_MIN = -(2**63)
I64_MAX = 2**63 - 1


def frame_text(panels, dataset, cursor=I64_MAX, **spec_members):
    """The "frame_at" response for a spec holding the given panel objects
    (one object or a list) and any further spec members, over a dataset object."""
    if isinstance(panels, dict):
        panels = [panels]
    if not any(dataset.values()):
        # A frame needs one record somewhere: add one that the panels under
        # test do not read (a liquidation beside a footprint, else a trade).
        uses_trades = any(p["kind"] == "footprint" for p in panels)
        dataset = dict(dataset, **({"liquidations": [[0, 1.0, 1.0, "long"]]} if uses_trades else {"trades": [[0, 1.0, 1.0, "buy"]]}))
    handle = tavrin_ovra.Ovra("")
    spec = dict({"dataset_ref": "t", "symbol": "S", "panels": panels}, **spec_members)
    accepted = handle.command(json.dumps({"cmd": "set_spec", "spec": spec}))
    assert accepted.startswith('{"ok":true'), accepted
    loaded = handle.command(json.dumps({"cmd": "load", "dataset": dataset}))
    assert loaded.startswith('{"ok":true'), loaded
    return handle.command(json.dumps({"cmd": "frame_at", "ts": cursor}))


def framed(*panel_texts, cursor=I64_MAX):
    """A whole frame text around the given panel texts."""
    return '{"symbol":"S","cursor_ts":%d,"panels":[%s]}' % (cursor, ",".join(panel_texts))


def data_error(message):
    return '{"ok":false,"error":"data: %s"}' % message


def skip_unless_slow_selected(request):
    """Slow tests run only when asked for with -m slow."""
    if "slow" not in (request.config.getoption("markexpr") or ""):
        pytest.skip("slow: run with -m slow")
