"""Random command sequences on one handle against a small model of its state:
which spec and which dataset are in force, and so which response each command
gets. Frames are compared byte for byte with a fresh handle built from the
model's spec and dataset, so any state corrupted along the way shows."""

import json

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, initialize, invariant, rule

from tavrin_ovra import Ovra

from hardening_data import (NO_DATASET, NO_SPEC, OK, bounds_text, command, compact, loaded_text, make_dataset,
                            spec_handle)

TS = st.integers(min_value=-10**6, max_value=10**6)
FLOATS = st.floats(allow_nan=False, allow_infinity=False) | st.sampled_from([0.0, -0.0, 0.5, 100.25, 5e-324])
QTY = st.floats(min_value=-10.0, max_value=1e6, allow_nan=False)


def record(fields, names):
    """A record in array form or object form; both must read the same."""
    return st.one_of(st.tuples(*fields).map(list), st.tuples(*fields).map(lambda v: dict(zip(names, v))))


def word(a, b):
    return st.sampled_from([a, b, {a: None}, {b: None}])


LEVELS = st.lists(st.tuples(FLOATS, QTY).map(list), max_size=4)
SERIES_RECORDS = {
    "candles": record([TS, FLOATS, FLOATS, FLOATS, FLOATS, QTY], ["ts", "open", "high", "low", "close", "volume"]),
    "trades": record([TS, FLOATS, QTY, word("buy", "sell")], ["ts", "price", "qty", "side"]),
    "book": record([TS, word("snapshot", "diff"), LEVELS, LEVELS], ["ts", "kind", "bids", "asks"]),
    "funding": record([TS, FLOATS], ["ts", "rate"]),
    "oi": record([TS, QTY], ["ts", "oi"]),
    "liquidations": record([TS, FLOATS, QTY, word("long", "short")], ["ts", "price", "qty", "side"]),
}
DATASETS = st.fixed_dictionaries({}, optional={name: st.lists(r, max_size=5) for name, r in SERIES_RECORDS.items()})

BIN = st.sampled_from([0.25, 0.5, 1.0, 2.5])
BUCKET = st.sampled_from([1000, 60000, 3600000])
PANELS = st.one_of(
    st.builds(lambda p, b: {"kind": "footprint", "price_bin": p, "bucket_ms": b}, BIN, BUCKET),
    st.builds(lambda p, b, d: {"kind": "book_heatmap", "price_bin": p, "bucket_ms": b, "depth_levels": d},
              BIN, BUCKET, st.integers(1, 8)),
    st.builds(lambda p: ["liquidation_map", p], BIN),
    st.builds(lambda b: {"kind": "funding_oi_divergence", "bucket_ms": b}, BUCKET),
)


@st.composite
def specs(draw):
    spec = {"dataset_ref": draw(st.text(max_size=4)), "symbol": draw(st.text(min_size=1, max_size=6)),
            "panels": draw(st.lists(PANELS, min_size=1, max_size=4))}
    window = sorted(draw(st.lists(TS, min_size=2, max_size=2)))
    if draw(st.booleans()):
        spec["from_ts"] = window[0]
    if draw(st.booleans()):
        spec["to_ts"] = window[1]
    return spec


BAD_SPECS = [
    ({"dataset_ref": "r", "symbol": "", "panels": [{"kind": "footprint"}]}, "bad spec: symbol must not be empty"),
    ({"dataset_ref": "r", "symbol": "s", "panels": []}, "bad spec: panels must not be empty"),
    ({"dataset_ref": "r", "symbol": "s", "from_ts": 2, "to_ts": 1, "panels": [{"kind": "footprint"}]},
     "bad spec: from_ts must be <= to_ts"),
    ({"dataset_ref": "r", "symbol": "s", "panels": [{"kind": "book_heatmap", "depth_levels": 0}]},
     "bad spec: book_heatmap depth_levels must be > 0"),
    (None, "parse: invalid type: null, expected struct OvraSpec"),
    (["r", "s"], "parse: invalid length 4, expected struct OvraSpec with 5 elements"),
]
BAD_DATASETS = [
    (None, "parse: invalid type: null, expected struct Dataset"),
    ({"candles": None}, "parse: invalid type: null, expected a sequence"),
    ({"trades": [[1, 2.0, 3.0, "BUY"]]}, "parse: unknown variant `BUY`, expected `buy` or `sell`"),
    ([[], [], [], [], [], [], []], "parse: invalid length 7, expected fewer elements in array"),
]
BAD_TS = ["1.0", "-0", "9223372036854775808", '"5"', "null", "1e3"]
GARBAGE = st.one_of(st.sampled_from(["", "{", "[]", '{"cmd":5}', '{"cmd":"FRAME"}', '{"cmd":"reset"} x',
                                     "[" * 200, '{"cmd":"load","dataset":{"trades":[[1,2,3,"buy"],]}}']),
                    st.text(max_size=20).filter(lambda t: "cmd" not in t and "\\" not in t))


def error(text):
    return compact({"ok": False, "error": text})


class HandleMachine(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.handle = Ovra("")
        self.spec = None
        self.dataset = {}

    @initialize(spec=st.none() | specs(), dataset=DATASETS,
                trades=st.lists(SERIES_RECORDS["trades"], min_size=1, max_size=5))
    def start(self, spec, dataset, trades):
        # Most runs start with a spec and records, so that frames get computed.
        if spec is not None:
            self.set_spec(spec)
        self.load(dict(dataset, trades=trades))

    def records(self):
        return bounds_text(self.dataset) != NO_DATASET

    def expected_frame(self, cmd_text):
        if self.spec is None:
            return NO_SPEC
        if not self.records():
            return NO_DATASET
        reference = spec_handle(self.spec)
        assert reference.command(command("load", dataset=self.dataset)) == loaded_text(self.dataset)
        return reference.command(cmd_text)

    @rule(dataset=DATASETS)
    def load(self, dataset):
        assert self.handle.command(command("load", dataset=dataset)) == loaded_text(dataset)
        self.dataset = dataset

    @rule(bad=st.sampled_from(BAD_DATASETS))
    def load_invalid(self, bad):
        assert self.handle.command(command("load", dataset=bad[0])) == error(bad[1])

    @rule(spec=specs())
    def set_spec(self, spec):
        assert self.handle.command(command("set_spec", spec=spec)) == OK
        self.spec = spec

    @rule(bad=st.sampled_from(BAD_SPECS))
    def set_spec_invalid(self, bad):
        assert self.handle.command(command("set_spec", spec=bad[0])) == error(bad[1])

    @rule(ts=TS | st.sampled_from([-2**63, 2**63 - 1]))
    def frame_at(self, ts):
        text = command("frame_at", ts=ts)
        response = self.handle.command(text)
        assert response == self.expected_frame(text)
        if response.startswith('{"symbol"'):
            to_ts = self.spec.get("to_ts")
            assert json.loads(response)["cursor_ts"] == (to_ts if to_ts is not None and to_ts < ts else ts)

    @rule(cursors=st.lists(TS, min_size=2, max_size=8))
    def scrub(self, cursors):
        # Many frames on one handle in a row: what it keeps between them must
        # not show.
        for ts in cursors:
            self.frame_at(ts)

    @rule(seed=st.integers(0, 50), records=st.sampled_from([60, 400]))
    def load_market(self, seed, records):
        # A market of some density inside the cursor range, so that what the
        # handle keeps between frames has something to hold.
        self.load(make_dataset(seed, records, start_ts=-50_000, step_ms=500))

    @rule(cursors=st.lists(st.integers(-60_000, 260_000), min_size=3, max_size=10),
          ends=st.lists(st.integers(-60_000, 260_000), min_size=2, max_size=2), which=st.integers(0, 2))
    def scrub_window(self, cursors, ends, which):
        # Scrubbing inside the data after a new window (from_ts, to_ts, or
        # both) on the same panels.
        if self.spec is None:
            return
        lo, hi = sorted(ends)
        spec = {k: v for k, v in self.spec.items() if k not in ("from_ts", "to_ts")}
        if which != 1:
            spec["from_ts"] = lo
        if which != 0:
            spec["to_ts"] = hi
        self.set_spec(spec)
        for ts in cursors:
            self.frame_at(ts)

    @rule(cursors=st.lists(st.integers(-60_000, 260_000), min_size=2, max_size=8),
          width=st.sampled_from([1_000, 30_000, 120_000]))
    def scrub_sliding(self, cursors, width):
        # A window of fixed width following the cursor.
        if self.spec is None:
            return
        for ts in cursors:
            spec = {k: v for k, v in self.spec.items() if k != "to_ts"}
            self.set_spec(dict(spec, from_ts=ts - width))
            self.frame_at(ts)

    @rule(index=st.integers(0, 3), price_bin=BIN, bucket_ms=BUCKET, depth=st.integers(1, 8),
          ts=st.integers(-60_000, 260_000))
    def rezoom(self, index, price_bin, bucket_ms, depth, ts):
        # One panel setting changed, the others kept; a frame before and after.
        if self.spec is None:
            return
        self.frame_at(ts)
        panels = [dict(p) if isinstance(p, dict) else list(p) for p in self.spec["panels"]]
        panel = panels[index % len(panels)]
        if isinstance(panel, list):
            panel[1] = price_bin
        else:
            if "price_bin" in panel:
                panel["price_bin"] = price_bin
            panel["bucket_ms"] = bucket_ms
            if panel["kind"] == "book_heatmap":
                panel["depth_levels"] = depth
        self.set_spec(dict(self.spec, panels=panels))
        self.frame_at(ts)

    @rule(token=st.sampled_from(BAD_TS))
    def frame_at_without_integer(self, token):
        response = self.handle.command('{"cmd":"frame_at","ts":%s}' % token)
        assert response == error("bad spec: frame_at requires integer 'ts'")

    @rule()
    def frame(self):
        text = command("frame")
        assert self.handle.command(text) == self.expected_frame(text)

    @rule()
    def reset(self):
        assert self.handle.command(command("reset")) == OK
        self.dataset = {}

    @rule()
    def version(self):
        assert self.handle.command(command("version")) == '{"version":"0.1.6"}'

    @rule(text=GARBAGE)
    def garbage(self, text):
        response = self.handle.command(text)
        assert response.startswith('{"ok":false,"error":"'), response

    @invariant()
    def bounds_follow_the_model(self):
        assert self.handle.command(command("bounds")) == bounds_text(self.dataset)


HandleMachine.TestCase.settings = settings(max_examples=50, stateful_step_count=30, deadline=None,
                                           suppress_health_check=[HealthCheck.too_slow])
TestHandleStateMachine = HandleMachine.TestCase


class Text(str):
    """A str subclass: accepted like any str."""


ARGUMENTS = st.one_of(
    st.text(), st.text().map(Text), st.binary(), st.integers(), st.floats(), st.none(), st.lists(st.text(), max_size=2),
    st.sampled_from(["\ud800", "\udfff{}", "x\x00y", bytearray(b"{}")]),
).filter(lambda a: not isinstance(a, str) or ("cmd" not in a and "\\" not in a))


@settings(max_examples=150, deadline=None)
@given(argument=ARGUMENTS, by_keyword=st.booleans())
def test_any_argument_gets_a_response_or_a_binding_error(argument, by_keyword):
    handle = spec_handle({"dataset_ref": "", "symbol": "S", "panels": [{"kind": "footprint"}]})
    dataset = {"trades": [[5, 1.5, 2.0, "buy"]]}
    handle.command(command("load", dataset=dataset))
    before = handle.command(command("frame"))
    try:
        response = handle.command(cmd_json=argument) if by_keyword else handle.command(argument)
    except (TypeError, UnicodeEncodeError):
        pass
    else:
        assert response.startswith('{"ok":false,"error":"')
    assert handle.command(command("bounds")) == bounds_text(dataset)
    assert handle.command(command("frame")) == before
