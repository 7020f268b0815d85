"""Spec validation: the ten rule messages and their order, on both places
a spec is taken into use ("set_spec" and the constructor)."""

import json

import pytest

import tavrin_ovra

I64_MIN = -9223372036854775808
I64_MAX = 9223372036854775807


def spec_text(symbol="S", panels=({"kind": "footprint"},), **window):
    spec = {"dataset_ref": "d", "symbol": symbol, **window, "panels": list(panels)}
    return json.dumps(spec, separators=(",", ":"))


def fp(price_bin=1.0, bucket_ms=60000):
    return {"kind": "footprint", "price_bin": price_bin, "bucket_ms": bucket_ms}


def bh(price_bin=1.0, bucket_ms=60000, depth_levels=40):
    return {"kind": "book_heatmap", "price_bin": price_bin, "bucket_ms": bucket_ms, "depth_levels": depth_levels}


def lm(price_bin=1.0):
    return {"kind": "liquidation_map", "price_bin": price_bin}


def fd(bucket_ms=60000):
    return {"kind": "funding_oi_divergence", "bucket_ms": bucket_ms}


def case(text, message, id):
    return pytest.param(text, message, id=id)


REJECTED = [
    case(spec_text(symbol="", panels=[]), "symbol must not be empty", "empty-symbol-before-empty-panels"),
    case(spec_text(symbol="", panels=[fp(0)], from_ts=2, to_ts=1), "symbol must not be empty", "symbol-first"),
    case(spec_text(symbol=" ", panels=[]), "panels must not be empty", "blank-symbol-passes"),
    case(spec_text(panels=[], from_ts=2, to_ts=1), "panels must not be empty", "panels-before-window"),
    case(spec_text(panels=[fp(0)], from_ts=2, to_ts=1), "from_ts must be <= to_ts", "window-before-panels"),
    case(spec_text(from_ts=1, to_ts=0), "from_ts must be <= to_ts", "one-ms-late"),
    case(spec_text(from_ts=I64_MAX, to_ts=I64_MIN), "from_ts must be <= to_ts", "signed-comparison"),
    case(spec_text(panels=[fp(0.0, 0)]), "footprint price_bin must be a positive number", "footprint-price-first"),
    case(spec_text(panels=[fp(-0.0)]), "footprint price_bin must be a positive number", "footprint-negative-zero"),
    case(spec_text(panels=[fp(-1)]), "footprint price_bin must be a positive number", "footprint-negative"),
    case(spec_text(panels=[fp(bucket_ms=0)]), "footprint bucket_ms must be > 0", "footprint-bucket-zero"),
    case(spec_text(panels=[fp(bucket_ms=I64_MIN)]), "footprint bucket_ms must be > 0", "footprint-bucket-min"),
    case(spec_text(panels=[bh(-2, 0, 0)]), "book_heatmap price_bin must be a positive number", "heatmap-price-first"),
    case(spec_text(panels=[bh(0.5, 0, 0)]), "book_heatmap bucket_ms must be > 0", "heatmap-bucket-before-depth"),
    case(spec_text(panels=[bh(depth_levels=0)]), "book_heatmap depth_levels must be > 0", "heatmap-depth"),
    case(spec_text(panels=[lm(0)]), "liquidation_map price_bin must be a positive number", "liquidation-zero"),
    case(spec_text(panels=[fd(-1)]), "funding_oi_divergence bucket_ms must be > 0", "funding-negative"),
    case(spec_text(panels=[fp(), lm(-1), fd(0)]), "liquidation_map price_bin must be a positive number",
         "first-failing-panel"),
    case(spec_text(panels=[fd(0), fp(0)]), "funding_oi_divergence bucket_ms must be > 0", "list-order"),
]

# A number below the smallest subnormal reads as 0.0 and is refused.
UNDERFLOW = '{"dataset_ref":"d","symbol":"S","panels":[{"kind":"footprint","price_bin":1e-400}]}'

PASSING = [
    pytest.param(spec_text(from_ts=5, to_ts=5), id="equal-ends"),
    pytest.param(spec_text(from_ts=I64_MAX), id="only-from"),
    pytest.param(spec_text(to_ts=I64_MIN), id="only-to"),
    pytest.param(spec_text(from_ts=I64_MIN, to_ts=I64_MAX), id="widest-window"),
    pytest.param(spec_text(panels=[fp(5e-324, 1)]), id="smallest-subnormal"),
    pytest.param(spec_text(panels=[bh(1.7976931348623157e308, I64_MAX, 1), lm(1e-300), fd(1)]), id="extremes"),
    pytest.param(spec_text(panels=[fp(), fp(), fp()]), id="repeated-kinds"),
    pytest.param('{"dataset_ref":"","symbol":"x","panels":[["book_heatmap"],["footprint"]]}', id="defaults-pass"),
]


def set_spec(handle, text):
    return handle.command('{"cmd":"set_spec","spec":' + text + "}")


@pytest.mark.parametrize("text, message", REJECTED + [case(UNDERFLOW, "footprint price_bin must be a positive number",
                                                            "underflow-to-zero")])
def test_set_spec_rule_messages(handle, text, message):
    assert set_spec(handle, text) == '{"ok":false,"error":"bad spec: ' + message + '"}'


@pytest.mark.parametrize("text", PASSING)
def test_set_spec_passes(handle, text):
    assert set_spec(handle, text) == '{"ok":true}'


def test_rejected_spec_leaves_previous_in_force(handle):
    assert set_spec(handle, spec_text()) == '{"ok":true}'
    assert set_spec(handle, spec_text(symbol="")) == '{"ok":false,"error":"bad spec: symbol must not be empty"}'
    assert handle.command('{"cmd":"frame"}') == '{"ok":false,"error":"data: no dataset"}'



@pytest.mark.parametrize("text, message", REJECTED)
def test_constructor_rule_messages(text, message):
    with pytest.raises(ValueError) as raised:
        tavrin_ovra.Ovra(text)
    assert str(raised.value) == "bad spec: " + message


@pytest.mark.parametrize("text", PASSING)
def test_constructor_passes(text):
    handle = tavrin_ovra.Ovra(text)
    assert handle.command('{"cmd":"frame"}') == '{"ok":false,"error":"data: no dataset"}'


def test_constructor_reading_error_comes_before_rules():
    with pytest.raises(ValueError) as raised:
        tavrin_ovra.Ovra('{"dataset_ref":"d","symbol":"","panels":[{"kind":"footprint","price_bin":null}]}')
    assert str(raised.value).startswith("parse: invalid type: null, expected f64 at line 1 column ")
