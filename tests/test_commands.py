"""Exact response texts of the command protocol for everything that needs no
dataset or spec: parse errors in the envelope, the "cmd" member, unknown
names and their escaping, request members, the order of checks, and the
commands that answer from the handle alone."""

import pytest

from tavrin_ovra import Ovra

VERSION = '{"version":"0.1.6"}'
OK = '{"ok":true}'
MISSING_CMD = '{"ok":false,"error":"bad spec: missing \'cmd\'"}'
NO_SPEC = '{"ok":false,"error":"bad spec: no spec set"}'
NO_DATASET = '{"ok":false,"error":"data: no dataset"}'
TS_REQUIRED = '{"ok":false,"error":"bad spec: frame_at requires integer \'ts\'"}'


def envelope(message):
    return '{"ok":false,"error":"' + message + '"}'


def check(table):
    """Parametrize over (command text, exact response) pairs with ids."""
    return pytest.mark.parametrize("command, expected", list(table.values()), ids=list(table))


# A parse error carries the parser's message and position inside the envelope.
PARSE_ERRORS = {
    # (caret under the column counted)
    "empty": ("", envelope("parse: EOF while parsing a value at line 1 column 0")),
    "blanks": ("   ", envelope("parse: EOF while parsing a value at line 1 column 3")),
    #          {"cmd":"version"}x
    #                           ^ 18
    "letter-after": ('{"cmd":"version"}x', envelope("parse: trailing characters at line 1 column 18")),
    "object-after": ('{"cmd":"version"} {}', envelope("parse: trailing characters at line 1 column 19")),
    "nul-after": ('{"cmd":"version"}\x00', envelope("parse: trailing characters at line 1 column 18")),
    "nbsp-before": ('\xa0{"cmd":"version"}', envelope("parse: expected value at line 1 column 1")),
    "second-line": ('{"cmd":\n"version",}', envelope("parse: trailing comma at line 2 column 11")),
    "unclosed": ('{"cmd":"version"', envelope("parse: EOF while parsing an object at line 1 column 16")),
    "depth-128": ("[" * 128, envelope("parse: recursion limit exceeded at line 1 column 128")),
    "depth-127": ("[" * 127, envelope("parse: EOF while parsing a list at line 1 column 127")),
}

MISSING_CMD_TEXTS = {
    "array": ('["version"]', MISSING_CMD),
    "number": ("1", MISSING_CMD),
    "string": ('"version"', MISSING_CMD),
    "null": ("null", MISSING_CMD),
    "empty-object": ("{}", MISSING_CMD),
    "cmd-number": ('{"cmd":1}', MISSING_CMD),
    "cmd-null": ('{"cmd":null}', MISSING_CMD),
    "cmd-array": ('{"cmd":["version"]}', MISSING_CMD),
    "key-case": ('{"Cmd":"version"}', MISSING_CMD),
    "later-repeat-wins": ('{"cmd":"version","cmd":1}', MISSING_CMD),
}

# The name is echoed exactly, with the minimal escaping of response strings.
UNKNOWN_NAMES = {
    "upper-case": ('{"cmd":"VERSION"}', envelope("bad spec: unknown cmd: VERSION")),
    "empty": ('{"cmd":""}', envelope("bad spec: unknown cmd: ")),
    "padded": ('{"cmd":" version"}', envelope("bad spec: unknown cmd:  version")),
    "quote-backslash-lf": (r'{"cmd":"a\"b\\c\nd"}', envelope(r"bad spec: unknown cmd: a\"b\\c\nd")),
    "short-escapes": (r'{"cmd":"\b\f\r\t"}', envelope(r"bad spec: unknown cmd: \b\f\r\t")),
    "control-0x01": (r'{"cmd":"\u0001"}', envelope(r"bad spec: unknown cmd: \u0001")),
    "control-0x1f": (r'{"cmd":"\u001F"}', envelope(r"bad spec: unknown cmd: \u001f")),
    "nul": (r'{"cmd":"x\u0000y"}', envelope(r"bad spec: unknown cmd: x\u0000y")),
    "delete-unescaped": ('{"cmd":"\x7f"}', envelope("bad spec: unknown cmd: \x7f")),
    "slash-unescaped": (r'{"cmd":"a\/b"}', envelope("bad spec: unknown cmd: a/b")),
    "non-ascii-unescaped": ('{"cmd":"\u00e9\u2028\U0001f600"}', envelope("bad spec: unknown cmd: \u00e9\u2028\U0001f600")),
    "escaped-non-ascii": (r'{"cmd":"\u00e9\ud83d\ude00"}', envelope("bad spec: unknown cmd: \u00e9\U0001f600")),
}

REQUEST_MEMBERS = {
    "load-without-dataset": ('{"cmd":"load"}', envelope("bad spec: load requires 'dataset'")),
    "load-dataset-key-case": ('{"cmd":"load","Dataset":{}}', envelope("bad spec: load requires 'dataset'")),
    "set_spec-without-spec": ('{"cmd":"set_spec"}', envelope("bad spec: set_spec requires 'spec'")),
    "set_spec-other-member": ('{"cmd":"set_spec","dataset":{}}', envelope("bad spec: set_spec requires 'spec'")),
}

# "ts" must be a JSON integer within i64; the ones that pass reach the spec
# check, which a handle without spec fails.
FRAME_AT_TS = {
    "absent": ('{"cmd":"frame_at"}', TS_REQUIRED),
    "null": ('{"cmd":"frame_at","ts":null}', TS_REQUIRED),
    "string": ('{"cmd":"frame_at","ts":"5"}', TS_REQUIRED),
    "bool": ('{"cmd":"frame_at","ts":true}', TS_REQUIRED),
    "fraction": ('{"cmd":"frame_at","ts":1000.0}', TS_REQUIRED),
    "exponent": ('{"cmd":"frame_at","ts":1e3}', TS_REQUIRED),
    "negative-zero": ('{"cmd":"frame_at","ts":-0}', TS_REQUIRED),
    "above-i64": ('{"cmd":"frame_at","ts":9223372036854775808}', TS_REQUIRED),
    "below-i64": ('{"cmd":"frame_at","ts":-9223372036854775809}', TS_REQUIRED),
    "beyond-u64": ('{"cmd":"frame_at","ts":18446744073709551616}', TS_REQUIRED),
    "array": ('{"cmd":"frame_at","ts":[5]}', TS_REQUIRED),
    "i64-max": ('{"cmd":"frame_at","ts":9223372036854775807}', NO_SPEC),
    "i64-min": ('{"cmd":"frame_at","ts":-9223372036854775808}', NO_SPEC),
    "zero": ('{"cmd":"frame_at","ts":0}', NO_SPEC),
    "negative": ('{"cmd":"frame_at","ts":-5}', NO_SPEC),
    "repeat-later-wins": ('{"cmd":"frame_at","ts":1.5,"ts":7}', NO_SPEC),
}

# A fresh handle has neither spec nor records: the spec is checked first.
STATELESS = {
    "version": ('{"cmd":"version"}', VERSION),
    "version-extra-members": ('{"cmd":"version","ts":1,"dataset":5,"spec":null}', VERSION),
    "version-json-white-space": ('\t\r\n {"cmd":"version"} \n\r\t', VERSION),
    "version-repeat-later-wins": ('{"cmd":"bogus","cmd":"version"}', VERSION),
    "reset": ('{"cmd":"reset"}', OK),
    "bounds-empty": ('{"cmd":"bounds"}', NO_DATASET),
    "frame-no-spec": ('{"cmd":"frame"}', NO_SPEC),
    "frame_at-no-spec": ('{"cmd":"frame_at","ts":1}', NO_SPEC),
}


@check(PARSE_ERRORS)
def test_parse_errors(handle, command, expected):
    assert handle.command(command) == expected


@check(MISSING_CMD_TEXTS)
def test_missing_cmd(handle, command, expected):
    assert handle.command(command) == expected


@check(UNKNOWN_NAMES)
def test_unknown_command_names(handle, command, expected):
    assert handle.command(command) == expected


@check(REQUEST_MEMBERS)
def test_missing_request_members(handle, command, expected):
    assert handle.command(command) == expected


@check(FRAME_AT_TS)
def test_frame_at_ts(handle, command, expected):
    assert handle.command(command) == expected


@check(STATELESS)
def test_commands_on_a_fresh_handle(handle, command, expected):
    assert handle.command(command) == expected


@pytest.mark.parametrize("member", ["null", "1", '"x"', "true"], ids=["null", "number", "string", "bool"])
def test_present_dataset_member_is_converted_not_missing(handle, member):
    response = handle.command('{"cmd":"load","dataset":' + member + "}")
    assert response.startswith('{"ok":false,"error":"parse: ')
    assert "requires" not in response


def test_reset_keeps_no_spec_and_no_data(handle):
    assert handle.command('{"cmd":"reset"}') == OK
    assert handle.command('{"cmd":"reset"}') == OK
    assert handle.command('{"cmd":"frame"}') == NO_SPEC
    assert handle.command('{"cmd":"bounds"}') == NO_DATASET


def test_version_is_the_same_on_every_handle():
    for spec_text in ["", "{}", " \n"]:
        response = Ovra(spec_text).command('{"cmd":"version"}')
        assert response == VERSION and len(response) == 19


def test_failed_commands_leave_the_handle_working(handle):
    for command, _ in [*PARSE_ERRORS.values(), *MISSING_CMD_TEXTS.values(), *UNKNOWN_NAMES.values()]:
        handle.command(command)
    assert handle.command('{"cmd":"version"}') == VERSION
    assert handle.command('{"cmd":"bounds"}') == NO_DATASET


# --- which command needs what, and what each one changes ---------------------

SPEC = '{"dataset_ref":"d","symbol":"S","panels":[{"kind":"footprint"}]}'
DATASET = '{"trades":[[30,1,1,"buy"],[-5,1,1,"sell"]],"oi":[[7,2.0]]}'
BOUNDS = '{"from_ts":-5,"to_ts":30,"count":3}'


def set_spec(handle):
    assert handle.command('{"cmd":"set_spec","spec":' + SPEC + "}") == OK


def load(handle):
    assert handle.command('{"cmd":"load","dataset":' + DATASET + "}") == '{"ok":true,"loaded":3}'


@pytest.mark.parametrize(
    "command", ['{"cmd":"frame"}', '{"cmd":"frame_at","ts":5}'], ids=["frame", "frame_at"]
)
def test_frame_with_spec_but_no_records(handle, command):
    set_spec(handle)
    assert handle.command(command) == NO_DATASET


@pytest.mark.parametrize(
    "command", ['{"cmd":"frame"}', '{"cmd":"frame_at","ts":5}'], ids=["frame", "frame_at"]
)
def test_frame_with_records_but_no_spec(handle, command):
    load(handle)
    assert handle.command(command) == NO_SPEC


def test_ts_is_checked_before_the_spec_and_the_data(handle):
    set_spec(handle)
    load(handle)
    assert handle.command('{"cmd":"frame_at","ts":"5"}') == TS_REQUIRED


def test_reset_empties_the_dataset_and_keeps_the_spec(handle):
    set_spec(handle)
    load(handle)
    assert handle.command('{"cmd":"reset"}') == OK
    assert handle.command('{"cmd":"bounds"}') == NO_DATASET
    assert handle.command('{"cmd":"frame"}') == NO_DATASET  # not "no spec set"


def test_set_spec_and_load_leave_each_other_alone(handle):
    load(handle)
    set_spec(handle)
    assert handle.command('{"cmd":"bounds"}') == BOUNDS
    load(handle)
    assert handle.command('{"cmd":"reset"}') == OK
    assert handle.command('{"cmd":"frame"}') == NO_DATASET


def test_failing_commands_change_nothing(handle):
    load(handle)
    failing = [
        '{"cmd":"load"}',
        '{"cmd":"load","dataset":null}',
        '{"cmd":"set_spec","spec":null}',
        '{"cmd":"set_spec","spec":{"dataset_ref":"d","symbol":"","panels":[]}}',
        '{"cmd":"frame_at","ts":1.0}',
        '{"cmd":"RESET"}',
        '{"cmd":"reset"',
    ]
    for command in failing:
        assert handle.command(command).startswith('{"ok":false,"error":')
    assert handle.command('{"cmd":"bounds"}') == BOUNDS
    assert handle.command('{"cmd":"frame"}') == NO_SPEC


def test_bounds_of_a_single_negative_record(handle):
    assert handle.command('{"cmd":"load","dataset":{"oi":[[-5,1.0]]}}') == '{"ok":true,"loaded":1}'
    assert handle.command('{"cmd":"bounds"}') == '{"from_ts":-5,"to_ts":-5,"count":1}'
