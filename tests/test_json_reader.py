"""The command-text reader seen through `Ovra.command`: exact parse messages
with their line/column, number kinds, escapes, the depth budget and the
"later key wins" map semantics."""

import pytest

from tavrin_ovra import Ovra


def parse_error(message, line, column):
    return '{"ok":false,"error":"parse: %s at line %d column %d"}' % (message, line, column)


VERSION = '{"version":"0.1.6"}'
MISSING_CMD = '{"ok":false,"error":"bad spec: missing \'cmd\'"}'
NO_SPEC = '{"ok":false,"error":"bad spec: no spec set"}'
TS_NOT_INTEGER = '{"ok":false,"error":"bad spec: frame_at requires integer \'ts\'"}'
CONTROL = "control character (\\\\u0000-\\\\u001F) found while parsing a string"


def run(text):
    return Ovra("").command(text)


STRUCTURE = [
    ("empty", "", parse_error("EOF while parsing a value", 1, 0)),
    ("blanks", "   ", parse_error("EOF while parsing a value", 1, 3)),
    ("line_feeds", "\n\n", parse_error("EOF while parsing a value", 3, 0)),
    ("open_list", "[", parse_error("EOF while parsing a list", 1, 1)),
    ("open_object", "{", parse_error("EOF while parsing an object", 1, 1)),
    ("list_after_element", "[1", parse_error("EOF while parsing a list", 1, 2)),
    ("list_after_comma", "[1,", parse_error("EOF while parsing a value", 1, 3)),
    ("object_after_key", '{"a"', parse_error("EOF while parsing an object", 1, 4)),
    ("object_after_colon", '{"a":', parse_error("EOF while parsing a value", 1, 5)),
    ("object_after_value", '{"a":1', parse_error("EOF while parsing an object", 1, 6)),
    ("missing_colon", '{"a" 1}', parse_error("expected `:`", 1, 6)),
    ("number_key", "{1:2}", parse_error("key must be a string", 1, 2)),
    ("comma_first_in_object", "{,}", parse_error("key must be a string", 1, 2)),
    ("comma_first_in_list", "[,1]", parse_error("expected value", 1, 2)),
    ("trailing_comma_list", "[1,]", parse_error("trailing comma", 1, 4)),
    ("trailing_comma_object", '{"a":1,}', parse_error("trailing comma", 1, 8)),
    ("list_missing_comma", "[1 2]", parse_error("expected `,` or `]`", 1, 4)),
    ("object_missing_comma", '{"a":1 "b":2}', parse_error("expected `,` or `}`", 1, 8)),
    ("close_bracket", "]", parse_error("expected value", 1, 1)),
    ("close_brace", "}", parse_error("expected value", 1, 1)),
    ("open_string", '"abc', parse_error("EOF while parsing a string", 1, 4)),
]

TRAILING_AND_WHITESPACE = [
    ("letter_after", '{"cmd":"version"}x', parse_error("trailing characters", 1, 18)),
    ("second_object", '{"cmd":"version"} {}', parse_error("trailing characters", 1, 19)),
    ("number_then_letter", "1x", parse_error("trailing characters", 1, 2)),
    ("four_blank_bytes_after", '{"cmd":"version"}\n\r\t ', VERSION),
    ("four_blank_bytes_before", ' \t\r\n{"cmd":"version"}', VERSION),
    # Only the four JSON blank bytes are blanks here: no-break space, VT, FF are not.
    ("nbsp_before", "\u00a0{}", parse_error("expected value", 1, 1)),
    ("vertical_tab_before", "\x0b{}", parse_error("expected value", 1, 1)),
    ("form_feed_after", '{"cmd":"version"}\x0c', parse_error("trailing characters", 1, 18)),
]


# Columns count bytes of the line, up to and including the offending byte.
POSITIONS = [
    # line 3: '  "ts": [1, 2,, 3]'
    #                        ^ column 15
    ("third_line", '{\n  "cmd": "version",\n  "ts": [1, 2,, 3]\n}', parse_error("expected value", 3, 15)),
    # 'é' 2 bytes, '€' 3 bytes, '😀' 4 bytes: '{"cmd":"é€😀" x}', the x is byte 20
    ("multibyte_before", '{"cmd":"\u00e9\u20ac\U0001F600" x}', parse_error("expected `,` or `}`", 1, 20)),
    # '"é\q"': the q is byte 5
    ("multibyte_escape", '"\u00e9\\q"', parse_error("invalid escape", 1, 5)),
    # a carriage return is an ordinary byte of its line; ' tru}' puts '}' at column 5
    ("crlf", '{"a":\r\n tru}', parse_error("expected ident", 2, 5)),
    ("first_byte_of_line", "\n\n\n]", parse_error("expected value", 4, 1)),
]

NUMBERS = [
    ("leading_zero", "01", parse_error("invalid number", 1, 2)),
    ("negative_leading_zero", "-01", parse_error("invalid number", 1, 3)),
    ("minus_alone", "-", parse_error("EOF while parsing a value", 1, 1)),
    ("minus_letter", "-x", parse_error("invalid number", 1, 2)),
    ("point_at_end", "1.", parse_error("EOF while parsing a value", 1, 2)),
    ("point_letter", "1.x", parse_error("invalid number", 1, 3)),
    ("point_exponent", "1.e5", parse_error("invalid number", 1, 3)),
    ("exponent_at_end", "1e", parse_error("EOF while parsing a value", 1, 2)),
    ("exponent_sign_at_end", "1e+", parse_error("EOF while parsing a value", 1, 3)),
    ("exponent_letter", "1ex", parse_error("invalid number", 1, 3)),
    ("point_first", "[.5]", parse_error("expected value", 1, 2)),
    ("plus_sign", "[+1]", parse_error("expected value", 1, 2)),
    ("overflow", "1e400", parse_error("number out of range", 1, 5)),
    ("negative_overflow", "-1e400", parse_error("number out of range", 1, 6)),
    # an exponent past 32 bits fails at the digit that overflows it:
    # '1e21474836470'
    #              ^ 2147483647 still fits; the 0 (byte 13) does not
    ("exponent_overflow_digit", "1e21474836470", parse_error("number out of range", 1, 13)),
    ("exponent_overflow_long", "1e2147483648", parse_error("number out of range", 1, 12)),
    ("zero_huge_exponent", "0e99999999999", MISSING_CMD),
    ("underflow_is_zero", "[1e-99999999999]", MISSING_CMD),
    ("long_integer_with_fraction", "[18446744073709551616.5]", MISSING_CMD),
    ("long_integer_point_only", "[184467440737095516150.]", parse_error("invalid number", 1, 24)),
    ("nan", "NaN", parse_error("expected value", 1, 1)),
    ("infinity", "Infinity", parse_error("expected value", 1, 1)),
]

# "ts" shows the kind the reader gave a number: only integers within i64 pass.
TS_KINDS = [
    ("zero", "0", NO_SPEC),
    ("negative_zero_is_float", "-0", TS_NOT_INTEGER),
    ("i64_max", "9223372036854775807", NO_SPEC),
    ("i64_max_plus_one", "9223372036854775808", TS_NOT_INTEGER),
    ("i64_min", "-9223372036854775808", NO_SPEC),
    ("i64_min_minus_one", "-9223372036854775809", TS_NOT_INTEGER),
    ("beyond_u64", "18446744073709551616", TS_NOT_INTEGER),
    ("exponent", "1e3", TS_NOT_INTEGER),
    ("fraction", "1000.0", TS_NOT_INTEGER),
]

STRINGS = [
    ("unknown_escape", '"\\x"', parse_error("invalid escape", 1, 3)),
    # '"\u12G4"': the first bad hex digit G is byte 6
    ("bad_hex_digit", '"\\u12G4"', parse_error("invalid escape", 1, 6)),
    ("short_hex_escape", '"\\u00"', parse_error("EOF while parsing a string", 1, 6)),
    ("lone_leading_surrogate", '"\\ud800"', parse_error("unexpected end of hex escape", 1, 8)),
    ("leading_surrogate_other_escape", '"\\ud800\\n"', parse_error("unexpected end of hex escape", 1, 9)),
    ("leading_surrogate_plain_escape", '"\\ud800\\u0041"', parse_error("lone leading surrogate in hex escape", 1, 13)),
    ("lone_trailing_surrogate", '"\\udc00"', parse_error("lone leading surrogate in hex escape", 1, 7)),
    ("surrogate_at_end", '"\\ud800', parse_error("EOF while parsing a string", 1, 7)),
    ("surrogate_backslash_at_end", '"\\ud800\\', parse_error("EOF while parsing a string", 1, 8)),
    ("surrogate_pair", '"\\ud83d\\ude00" x', parse_error("trailing characters", 1, 16)),
    ("control_byte", '"a\x01b"', parse_error(CONTROL, 1, 3)),
    ("raw_tab", '"a\tb"', parse_error(CONTROL, 1, 3)),
    ("backslash_at_end", '"\\', parse_error("EOF while parsing a string", 1, 2)),
]

IDENTS = [
    ("null_cut", "nul", parse_error("EOF while parsing a value", 1, 3)),
    ("null_wrong", "nulx", parse_error("expected ident", 1, 4)),
    ("true_wrong_case", "tRue", parse_error("expected ident", 1, 2)),
    ("false_cut", "fals", parse_error("EOF while parsing a value", 1, 4)),
]


def nest(depth, open_, close, inner="1"):
    return open_ * depth + inner + close * depth


DEPTH = [
    ("lists_127", '{"cmd":"version","x":' + nest(126, "[", "]", "") + "}", VERSION),
    # the 128th bracket is column 128
    ("lists_128", nest(128, "[", "]", ""), parse_error("recursion limit exceeded", 1, 128)),
    ("objects_127", '{"cmd":"version","x":' + nest(126, '{"a":', "}") + "}", VERSION),
    ("objects_128", nest(128, '{"a":', "}"), parse_error("recursion limit exceeded", 1, 636)),
    ("mixed_128", " [" + nest(63, '[{"k":', "}]", "[]") + "]", parse_error("recursion limit exceeded", 1, 381)),
    ("deep_after_error", nest(300, "[", "]", ""), parse_error("recursion limit exceeded", 1, 128)),
]

MAP_SEMANTICS = [
    ("later_key_wins", '{"cmd":"nope","cmd":"version"}', VERSION),
    ("later_key_wins_back", '{"cmd":"version","cmd":"nope"}', '{"ok":false,"error":"bad spec: unknown cmd: nope"}'),
    ("later_non_string_wins", '{"cmd":"version","cmd":5}', MISSING_CMD),
    ("escaped_key_and_value", '{"cm\\u0064":"versio\\u006e"}', VERSION),
    ("many_members_unsorted", '{"z":1,"y":[],"cmd":"version","a":{},"b":null,"cmd2":true}', VERSION),
]


def _table(*groups):
    return [pytest.param(text, expected, id=name) for group in groups for name, text, expected in group]


@pytest.mark.parametrize("text, expected", _table(STRUCTURE, TRAILING_AND_WHITESPACE))
def test_structure_errors(text, expected):
    assert run(text) == expected


@pytest.mark.parametrize("text, expected", _table(POSITIONS))
def test_positions_count_bytes_per_line(text, expected):
    assert run(text) == expected


@pytest.mark.parametrize("text, expected", _table(NUMBERS))
def test_numbers(text, expected):
    assert run(text) == expected


@pytest.mark.parametrize("ts, expected", _table(TS_KINDS))
def test_number_kinds_through_ts(ts, expected):
    assert run('{"cmd":"frame_at","ts":%s}' % ts) == expected


@pytest.mark.parametrize("text, expected", _table(STRINGS, IDENTS))
def test_strings_and_idents(text, expected):
    assert run(text) == expected


@pytest.mark.parametrize("text, expected", _table(DEPTH))
def test_depth_budget(text, expected):
    assert run(text) == expected


@pytest.mark.parametrize("text, expected", _table(MAP_SEMANTICS))
def test_objects_are_maps(text, expected):
    assert run(text) == expected


@pytest.mark.parametrize(
    "name",
    ["version", "\u00e9t\u00e9 \u20ac \U0001F600", 'q"b\\s', "tab\there", "nul\u0000x", ""],
    ids=["ascii", "multibyte", "quote_backslash", "tab", "nul", "empty"],
)
def test_unknown_name_round_trips_escapes(name):
    import json

    # the name reaches the message exactly as decoded from its escaped form
    expected = "bad spec: unknown cmd: " + name
    if name == "version":
        assert run('{"cmd":%s}' % json.dumps(name)) == VERSION
        return
    response = json.loads(run('{"cmd":%s}' % json.dumps(name)))
    assert response == {"ok": False, "error": expected}


def test_truncations_of_a_valid_command_never_succeed():
    text = '{"cmd":"version","x":[1,-2.5e-3,true,null,{"k":"v\\u00e9"}]}'
    assert run(text) == VERSION
    for end in range(len(text)):
        assert run(text[:end]).startswith('{"ok":false,"error":"parse: EOF while parsing'), text[:end]


def test_large_document_parses():
    rows = ",".join('{"ts":%d,"price":%d.25,"side":"buy"}' % (i, i) for i in range(20000))
    assert run('{"cmd":"version","rows":[%s]}' % rows) == VERSION
