"""The "set_spec" road: converting the parsed "spec" member, with its exact
error envelopes, key-order precedence, defaults, and the rule that a failed
"set_spec" leaves the previous spec in force."""

import pytest

import tavrin_ovra

PANEL_KINDS = "one of `footprint`, `book_heatmap`, `liquidation_map`, `funding_oi_divergence`"


def envelope(display):
    """The error envelope of a display text (quote and backslash are all our messages need)."""
    return '{"ok":false,"error":"' + display.replace("\\", "\\\\").replace('"', '\\"') + '"}'


def set_spec(handle, spec_text):
    return handle.command('{"cmd":"set_spec","spec":' + spec_text + "}")


def with_panels(panels_text):
    return '{"dataset_ref":"d","symbol":"S","panels":' + panels_text + "}"


def case(spec_text, message, id):
    return pytest.param(spec_text, message, id=id)


SPEC_SHAPES = [
    case("null", "invalid type: null, expected struct OvraSpec", "null"),
    case("true", "invalid type: boolean `true`, expected struct OvraSpec", "bool"),
    case("5", "invalid type: integer `5`, expected struct OvraSpec", "int"),
    case("-5", "invalid type: integer `-5`, expected struct OvraSpec", "neg-int"),
    case("1.0", "invalid type: floating point `1.0`, expected struct OvraSpec", "float-keeps-point"),
    case("1e20", "invalid type: floating point `1e+20`, expected struct OvraSpec", "float-exponent"),
    case('"spec"', 'invalid type: string "spec", expected struct OvraSpec', "string"),
    case("[]", "invalid length 0, expected struct OvraSpec with 5 elements", "array-0"),
    case('["a"]', "invalid length 1, expected struct OvraSpec with 5 elements", "array-1"),
    case('["a","b"]', "invalid length 4, expected struct OvraSpec with 5 elements", "array-2"),
    case('["a","b",null]', "invalid length 4, expected struct OvraSpec with 5 elements", "array-3"),
    case('["a","b",null,null]', "invalid length 4, expected struct OvraSpec with 5 elements", "array-4"),
    case('["a","b",null,null,[],5]', "invalid length 6, expected fewer elements in array", "array-6"),
    case('["a","b",null,null,[],5,6]', "invalid length 7, expected fewer elements in array", "array-7"),
    # Elements are converted before the length is judged.
    case('["a",5,null,null,[],5]', "invalid type: integer `5`, expected a string", "array-6-bad-element"),
    case('[5]', "invalid type: integer `5`, expected a string", "array-1-bad-element"),
    case('["a","b",1.5]', "invalid type: floating point `1.5`, expected i64", "array-3-bad-window"),
    case('["a","b",null,null,[{"kind":"x"}],5]', f"unknown variant `x`, expected {PANEL_KINDS}", "array-6-bad-panel"),
    case("{}", "missing field `dataset_ref`", "empty-object"),
    case('{"dataset_ref":"d","panels":[]}', "missing field `symbol`", "missing-symbol"),
    case('{"dataset_ref":"d","symbol":"S"}', "missing field `panels`", "missing-panels"),
    case('{"panels":[],"symbol":"S"}', "missing field `dataset_ref`", "missing-in-declaration-order"),
]

SPEC_MEMBERS = [
    case('{"dataset_ref":5}', "invalid type: integer `5`, expected a string", "dataset_ref-int"),
    case('{"dataset_ref":null}', "invalid type: null, expected a string", "dataset_ref-null"),
    case('{"dataset_ref":"d","symbol":[]}', "invalid type: sequence, expected a string", "symbol-array"),
    case('{"dataset_ref":"d","symbol":{}}', "invalid type: map, expected a string", "symbol-object"),
    case('{"from_ts":"x"}', 'invalid type: string "x", expected i64', "from_ts-string"),
    case('{"from_ts":1.0}', "invalid type: floating point `1.0`, expected i64", "from_ts-fraction"),
    case('{"from_ts":1e3}', "invalid type: floating point `1000.0`, expected i64", "from_ts-exponent"),
    case('{"from_ts":-0}', "invalid type: floating point `-0.0`, expected i64", "from_ts-negative-zero"),
    case('{"from_ts":false}', "invalid type: boolean `false`, expected i64", "from_ts-bool"),
    case('{"to_ts":9223372036854775808}', "invalid value: integer `9223372036854775808`, expected i64",
         "to_ts-above-i64"),
    case('{"to_ts":18446744073709551615}', "invalid value: integer `18446744073709551615`, expected i64",
         "to_ts-u64-max"),
    case('{"to_ts":18446744073709551616}', "invalid type: floating point `1.8446744073709552e+19`, expected i64",
         "to_ts-beyond-u64"),
    case('{"to_ts":-9223372036854775809}', "invalid type: floating point `-9.223372036854776e+18`, expected i64",
         "to_ts-below-i64"),
    case('{"to_ts":{}}', "invalid type: map, expected i64", "to_ts-object"),
    case('{"panels":{}}', "invalid type: map, expected a sequence", "panels-object"),
    case('{"panels":null}', "invalid type: null, expected a sequence", "panels-null"),
    case('{"panels":"[]"}', 'invalid type: string "[]", expected a sequence', "panels-string"),
]

PANEL_SHAPES = [
    case("[5]", "invalid type: integer `5`, expected internally tagged enum OvraPanel", "int"),
    case("[null]", "invalid type: null, expected internally tagged enum OvraPanel", "null"),
    case('["footprint"]', 'invalid type: string "footprint", expected internally tagged enum OvraPanel', "string"),
    case("[{}]", "missing field `kind`", "object-without-kind"),
    case('[{"price_bin":"x"}]', "missing field `kind`", "kind-checked-before-fields"),
    case("[[]]", "missing field `kind`", "empty-array"),
    case('[{"kind":5}]', "invalid type: integer `5`, expected variant identifier", "kind-int"),
    case('[{"kind":null}]', "invalid type: null, expected variant identifier", "kind-null"),
    case("[[5]]", "invalid type: integer `5`, expected variant identifier", "array-kind-int"),
    case('[{"kind":"Footprint"}]', f"unknown variant `Footprint`, expected {PANEL_KINDS}", "kind-case-sensitive"),
    case('[{"kind":""}]', f"unknown variant ``, expected {PANEL_KINDS}", "kind-empty"),
    case('[{"kind":"a\\"b"}]', f'unknown variant `a"b`, expected {PANEL_KINDS}', "unknown-word-unquoted"),
    case('[["liquidation_map",1,2]]', "invalid length 2, expected 1 element in sequence", "array-too-long-1"),
    case('[["footprint",1,2,3]]', "invalid length 3, expected 2 elements in sequence", "array-too-long-2"),
    case('[["book_heatmap",1,2,3,4,5]]', "invalid length 5, expected 3 elements in sequence", "array-too-long-3"),
    case('[["funding_oi_divergence",1,2]]', "invalid length 2, expected 1 element in sequence", "array-too-long-funding"),
    case('[["footprint","x",1,2]]', 'invalid type: string "x", expected f64', "fields-before-length"),
    # The first bad panel ends reading, whatever follows.
    case('[{"kind":"footprint"},{"kind":"x"},{"kind":5}]', f"unknown variant `x`, expected {PANEL_KINDS}",
         "first-bad-panel"),
]

PANEL_FIELDS = [
    case('[{"kind":"footprint","price_bin":null}]', "invalid type: null, expected f64", "price_bin-null"),
    case('[{"kind":"liquidation_map","price_bin":"1"}]', 'invalid type: string "1", expected f64', "price_bin-string"),
    case('[{"kind":"book_heatmap","price_bin":[]}]', "invalid type: sequence, expected f64", "price_bin-array"),
    case('[{"kind":"footprint","bucket_ms":1.0}]', "invalid type: floating point `1.0`, expected i64",
         "bucket_ms-fraction"),
    case('[{"kind":"funding_oi_divergence","bucket_ms":9223372036854775808}]',
         "invalid value: integer `9223372036854775808`, expected i64", "bucket_ms-above-i64"),
    case('[{"kind":"book_heatmap","bucket_ms":null}]', "invalid type: null, expected i64", "bucket_ms-null"),
    case('[{"kind":"book_heatmap","depth_levels":-1}]', "invalid value: integer `-1`, expected u32", "depth-negative"),
    case('[{"kind":"book_heatmap","depth_levels":4294967296}]', "invalid value: integer `4294967296`, expected u32",
         "depth-above-u32"),
    case('[{"kind":"book_heatmap","depth_levels":1.5}]', "invalid type: floating point `1.5`, expected u32",
         "depth-fraction"),
    case('[{"kind":"book_heatmap","depth_levels":1e100}]', "invalid type: floating point `1e+100`, expected u32",
         "depth-exponent"),
    case('[{"kind":"book_heatmap","depth_levels":"4"}]', 'invalid type: string "4", expected u32', "depth-string"),
    case('[["book_heatmap",1,2,-3]]', "invalid value: integer `-3`, expected u32", "array-depth"),
    case('[["funding_oi_divergence",true]]', "invalid type: boolean `true`, expected i64", "array-bucket"),
]

# Members are visited in ascending key order: the error of the first key wins.
KEY_ORDER = [
    case('{"symbol":5,"from_ts":"x"}', 'invalid type: string "x", expected i64', "from_ts-before-symbol"),
    case('{"to_ts":1.0,"dataset_ref":5}', "invalid type: integer `5`, expected a string", "dataset_ref-first"),
    case('{"symbol":5,"dataset_ref":"d","panels":[5]}',
         "invalid type: integer `5`, expected internally tagged enum OvraPanel", "panels-before-symbol"),
    case('{"to_ts":"x","symbol":5,"dataset_ref":"d","panels":[]}', "invalid type: integer `5`, expected a string",
         "symbol-before-to_ts"),
    case(with_panels('[{"kind":"footprint","price_bin":"x","bucket_ms":"y"}]'), 'invalid type: string "y", expected i64',
         "bucket_ms-before-price_bin"),
    case(with_panels('[{"price_bin":"x","kind":"nope"}]'), f"unknown variant `nope`, expected {PANEL_KINDS}",
         "kind-before-fields"),
    # The parse keeps the later of two repeated keys.
    case(with_panels('[{"kind":"footprint","price_bin":2,"price_bin":"x"}]'), 'invalid type: string "x", expected f64',
         "repeated-key-later-wins"),
    case('{"from_ts":"x","from_ts":1.5}', "invalid type: floating point `1.5`, expected i64", "repeated-spec-key"),
]

# Strings inside type errors are quoted with Debug escapes.
QUOTED_STRINGS = [
    case(r'"a\"b\\c"', r'a\"b\\c', "quote-and-backslash"),
    case(r'"\n\r\t\u0000"', r"\n\r\t\0", "named-escapes"),
    case(r'"\b\f\u0001\u001f"', r"\u{8}\u{c}\u{1}\u{1f}", "other-controls"),
    case(r'"\u007f\u0080\u00a0\u00ad"', r"\u{7f}\u{80}\u{a0}\u{ad}", "latin1-non-printable"),
    case(r'"\u00ff\u00e9\u20ac\ud83d\ude00"', "\u00ff\u00e9\u20ac\U0001F600", "printable-unescaped"),
    case(r'"\u0301a\u0301"', r"\u{301}a\u{301}", "combining-mark-start-and-inside"),
    case(r'"\u200b\u2028\ufeff\ue000\uffff"', r"\u{200b}\u{2028}\u{feff}\u{e000}\u{ffff}", "invisible-private-unassigned"),
    case(r'"\udb40\udd00x"', r"\u{e0100}x", "supplementary-extender"),
]


@pytest.mark.parametrize("spec_text, message", SPEC_SHAPES + SPEC_MEMBERS + KEY_ORDER)
def test_spec_reading_errors(handle, spec_text, message):
    assert set_spec(handle, spec_text) == envelope("parse: " + message)


@pytest.mark.parametrize("panels_text, message", PANEL_SHAPES + PANEL_FIELDS)
def test_panel_reading_errors(handle, panels_text, message):
    assert set_spec(handle, with_panels(panels_text)) == envelope("parse: " + message)


@pytest.mark.parametrize("string_text, quoted", QUOTED_STRINGS)
def test_strings_in_type_errors_are_debug_quoted(handle, string_text, quoted):
    expected = envelope('parse: invalid type: string "' + quoted + '", expected i64')
    assert set_spec(handle, '{"from_ts":' + string_text + "}") == expected


def test_exact_envelope_of_a_quoted_string(handle):
    assert set_spec(handle, '"a\\"b"') == r'{"ok":false,"error":"parse: invalid type: string \"a\\\"b\", expected struct OvraSpec"}'


ACCEPTED = [
    pytest.param(with_panels('[{"kind":"footprint"}]'), id="minimal"),
    pytest.param('["a","b",null,null,[["funding_oi_divergence",5000]]]', id="array-form"),
    pytest.param('["a","b",7,null,[["book_heatmap"],["book_heatmap",2.5,1000],["liquidation_map",3]]]',
                 id="array-panels-with-defaults"),
    pytest.param('{"panels":[{"depth_levels":7,"kind":"footprint","zz":1e300}],"symbol":"S","dataset_ref":"d",'
                 '"from_ts":null}', id="kind-anywhere-unknown-fields-skipped"),
    pytest.param('{"dataset_ref":"","symbol":"S","x":{"a":[1,{"b":null}]},"panels":[{"kind":"book_heatmap","price_bin":3}]}',
                 id="nested-unknown-member-skipped"),
    pytest.param(with_panels('[{"kind":"nope","kind":"footprint"}]'), id="repeated-kind-later-wins"),
    pytest.param('{"dataset_ref":"d","symbol":"S","from_ts":-9223372036854775808,"to_ts":9223372036854775807,'
                 '"panels":[{"kind":"book_heatmap","depth_levels":4294967295,"price_bin":5e-324,"bucket_ms":1}]}',
                 id="extreme-widths"),
    pytest.param(with_panels('[["liquidation_map",1e300],["footprint",18446744073709551615,1]]'),
                 id="integer-price-bin"),
]


@pytest.mark.parametrize("spec_text", ACCEPTED)
def test_accepted_specs(handle, spec_text):
    assert set_spec(handle, spec_text) == '{"ok":true}'


def test_spec_member_required(handle):
    assert handle.command('{"cmd":"set_spec"}') == '{"ok":false,"error":"bad spec: set_spec requires \'spec\'"}'


def test_failed_set_spec_leaves_no_spec_when_there_was_none(handle):
    assert set_spec(handle, with_panels('[{"kind":"x"}]')).startswith('{"ok":false')
    assert set_spec(handle, with_panels("[]")) == envelope("bad spec: panels must not be empty")
    assert handle.command('{"cmd":"frame"}') == envelope("bad spec: no spec set")


def test_failed_set_spec_keeps_previous_spec(handle):
    assert set_spec(handle, with_panels('[{"kind":"footprint"}]')) == '{"ok":true}'
    assert set_spec(handle, '{"from_ts":"x"}').startswith('{"ok":false')
    assert set_spec(handle, with_panels('[{"kind":"footprint","price_bin":0}]')).startswith('{"ok":false')
    # A spec is still set: the frame now fails on the missing data, not on the spec.
    assert handle.command('{"cmd":"frame"}') == envelope("data: no dataset")


def test_set_spec_on_handle_built_without_spec():
    handle = tavrin_ovra.Ovra("")
    assert set_spec(handle, '["a","b",null,null,[["footprint"]]]') == '{"ok":true}'
    assert handle.command('{"cmd":"frame"}') == envelope("data: no dataset")


# Defaults and spec replacement seen through frames.
TRADES = '{"cmd":"load","dataset":{"trades":[[1000,100.7,1.0,"buy"],[2000,101.3,2.0,"sell"]]}}'



@pytest.mark.parametrize(
    "panels, frame_panels",
    [
        pytest.param('[{"kind":"footprint"}]',
                     '{"kind":"footprint","price_bins":[100.0,101.0],"buy_vol":[1.0,0.0],"sell_vol":[0.0,2.0]}',
                     id="footprint-price_bin-1"),
        pytest.param('[["footprint",0.5]]',
                     '{"kind":"footprint","price_bins":[100.5,101.0],"buy_vol":[1.0,0.0],"sell_vol":[0.0,2.0]}',
                     id="footprint-array-explicit"),
        pytest.param('[{"kind":"footprint","price_bin":2}]',
                     '{"kind":"footprint","price_bins":[100.0],"buy_vol":[1.0],"sell_vol":[2.0]}',
                     id="integer-price_bin"),
    ],
)
def test_defaults_through_frames(handle, panels, frame_panels):
    handle.command(TRADES)
    assert set_spec(handle, with_panels(panels)) == '{"ok":true}'
    assert handle.command('{"cmd":"frame"}') == '{"symbol":"S","cursor_ts":2000,"panels":[' + frame_panels + "]}"


def test_failed_set_spec_keeps_previous_window(handle):
    handle.command(TRADES)
    assert set_spec(handle, '["d","S",null,1500,[["footprint"]]]') == '{"ok":true}'
    assert set_spec(handle, '["d","T",null,1800,[["footprint",0]]]') == envelope(
        "bad spec: footprint price_bin must be a positive number")
    assert set_spec(handle, '["d","T",null,1800,[["footprint",1.5,1,2]]]') == envelope(
        "parse: invalid length 3, expected 2 elements in sequence")
    assert handle.command('{"cmd":"frame"}') == (
        '{"symbol":"S","cursor_ts":1500,"panels":[{"kind":"footprint","price_bins":[100.0],"buy_vol":[1.0],'
        '"sell_vol":[0.0]}]}')
