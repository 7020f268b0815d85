"""The "load" and "bounds" commands: dataset forms, exact conversion messages
per record kind and form, normalisation, bounds, and state after failures."""

import json
import random

import pytest

import tavrin_ovra


def load(handle, dataset_text):
    return handle.command('{"cmd":"load","dataset":' + dataset_text + "}")


def bounds(handle):
    return handle.command('{"cmd":"bounds"}')


def parse_error(message):
    """The exact envelope of a failed conversion (messages here hold no control bytes)."""
    escaped = message.replace("\\", "\\\\").replace('"', '\\"')
    return '{"ok":false,"error":"parse: ' + escaped + '"}'


def loaded(count):
    return '{"ok":true,"loaded":%d}' % count


NO_DATASET = '{"ok":false,"error":"data: no dataset"}'

# One valid record of each kind in both forms, and the series it belongs to.
RECORDS = {
    "Candle": ("candles", "[1,2,3,4,5,6]", '{"ts":1,"open":2,"high":3,"low":4,"close":5,"volume":6}'),
    "Trade": ("trades", '[1,2.5,3,"buy"]', '{"ts":1,"price":2.5,"qty":3,"side":"buy"}'),
    "BookEvent": ("book", '[1,"snapshot",[[1,2]],[]]', '{"ts":1,"kind":"snapshot","bids":[[1,2]],"asks":[]}'),
    "FundingEvent": ("funding", "[1,0.01]", '{"ts":1,"rate":0.01}'),
    "OiEvent": ("oi", "[1,5e3]", '{"ts":1,"oi":5e3}'),
    "LiquidationEvent": ("liquidations", '[1,2,3,"long"]', '{"ts":1,"price":2,"qty":3,"side":"long"}'),
}
FIELDS = {
    "Candle": ["ts", "open", "high", "low", "close", "volume"],
    "Trade": ["ts", "price", "qty", "side"],
    "BookEvent": ["ts", "kind", "bids", "asks"],
    "FundingEvent": ["ts", "rate"],
    "OiEvent": ["ts", "oi"],
    "LiquidationEvent": ["ts", "price", "qty", "side"],
}


def in_series(kind, record_text):
    return '{"%s":[%s]}' % (RECORDS[kind][0], record_text)


# --- dataset forms ----------------------------------------------------------

@pytest.mark.parametrize(
    "dataset, expected",
    [
        ("{}", loaded(0)),
        ("[]", loaded(0)),
        ("[[],[]]", loaded(0)),
        ("[[],[],[],[],[],[]]", loaded(0)),
        ('{"zzz":5,"CANDLES":null,"candles":[]}', loaded(0)),
        ('[[],[[1,1,1,"buy"]],[],[[2,0.1]],[[3,4]],[[4,1,1,"short"]]]', loaded(4)),
        ("[[],[],[],[],[],[],[]]", parse_error("invalid length 7, expected fewer elements in array")),
        ("[[],[],[],[],[],[],5]", parse_error("invalid length 7, expected fewer elements in array")),
        ('[[],[],[],[],[],[7],[]]', parse_error("invalid type: integer `7`, expected struct LiquidationEvent")),
        ("null", parse_error("invalid type: null, expected struct Dataset")),
        ("true", parse_error("invalid type: boolean `true`, expected struct Dataset")),
        ("-5", parse_error("invalid type: integer `-5`, expected struct Dataset")),
        ("1.0", parse_error("invalid type: floating point `1.0`, expected struct Dataset")),
        ('"x"', parse_error('invalid type: string "x", expected struct Dataset')),
        ('{"candles":null}', parse_error("invalid type: null, expected a sequence")),
        ('{"candles":{}}', parse_error("invalid type: map, expected a sequence")),
        ("[null]", parse_error("invalid type: null, expected a sequence")),
        ('[[],"t"]', parse_error('invalid type: string "t", expected a sequence')),
    ],
    ids=[
        "empty-object", "empty-array", "short-array", "six-empty", "unknown-keys-skipped",
        "array-form-all-series", "seven-elements", "seven-elements-last-not-list",
        "series-error-before-length", "null", "bool", "int", "float", "string",
        "null-series", "map-series", "null-series-array-form", "string-series-array-form",
    ],
)
def test_dataset_forms(handle, dataset, expected):
    assert load(handle, dataset) == expected


@pytest.mark.parametrize(
    "dataset, expected",
    [
        ('{"trades":5,"book":5}', "invalid type: integer `5`, expected a sequence"),
        ('{"oi":"x","funding":true}', "invalid type: boolean `true`, expected a sequence"),
        ('{"trades":[[1,1,1,"buy"]],"candles":[[1]],"book":[[1,"x",[],[]]]}',
         "unknown variant `x`, expected `snapshot` or `diff`"),
        ('{"trades":[{"side":"up","price":"p"}]}', 'invalid type: string "p", expected f64'),
        ('{"book":[{"ts":1,"kind":"diff","bids":[[1]],"asks":[[]]}]}',
         "invalid length 0, expected an array of length 2"),
        ('{"trades":[{"ts":1.5,"qty":null}]}', "invalid type: null, expected f64"),
    ],
    ids=["series-book-before-trades", "series-funding-before-oi", "book-before-candles-and-trades",
         "field-price-before-side", "field-asks-before-bids", "field-qty-before-ts"],
)
def test_first_key_in_byte_order_is_reported(handle, dataset, expected):
    assert load(handle, dataset) == parse_error(expected)


def test_first_failing_element_ends_conversion(handle):
    trades = '[[1,1,1,"buy"],[2,1,1,"up"],[3,1,1,"down"],7]'
    assert load(handle, '{"trades":%s}' % trades) == parse_error("unknown variant `up`, expected `buy` or `sell`")


# --- record forms, per kind -------------------------------------------------

KINDS = list(RECORDS)


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("form", [1, 2], ids=["array", "object"])
def test_valid_record_loads(handle, kind, form):
    assert load(handle, in_series(kind, RECORDS[kind][form])) == loaded(1)


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize(
    "value, unexpected",
    [("7", "integer `7`"), ("null", "null"), ("false", "boolean `false`"),
     ("-1e3", "floating point `-1000.0`"), ('"ts"', 'string "ts"')],
    ids=["int", "null", "bool", "float", "string"],
)
def test_record_type_text(handle, kind, value, unexpected):
    assert load(handle, in_series(kind, value)) == parse_error(f"invalid type: {unexpected}, expected struct {kind}")


@pytest.mark.parametrize("kind", KINDS)
def test_record_array_too_short(handle, kind):
    fields = json.loads(RECORDS[kind][1])
    for given in range(len(fields)):
        text = json.dumps(fields[:given], separators=(",", ":"))
        expected = f"invalid length {given}, expected struct {kind} with {len(fields)} elements"
        assert load(handle, in_series(kind, text)) == parse_error(expected), given


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("extra", ["null", "1", "[]"], ids=["null", "int", "array"])
def test_record_array_too_long(handle, kind, extra):
    record = RECORDS[kind][1][:-1] + "," + extra + "," + extra + "]"
    length = len(FIELDS[kind]) + 2
    expected = f"invalid length {length}, expected fewer elements in array"
    assert load(handle, in_series(kind, record)) == parse_error(expected)


@pytest.mark.parametrize("kind", KINDS)
def test_record_array_field_error_before_surplus(handle, kind):
    record = "[1.5" + RECORDS[kind][1][2:-1] + ",0]"
    assert load(handle, in_series(kind, record)) == parse_error("invalid type: floating point `1.5`, expected i64")


@pytest.mark.parametrize("kind", KINDS)
def test_missing_field_in_declaration_order(handle, kind):
    record = json.loads(RECORDS[kind][2])
    fields = FIELDS[kind]
    for i, name in enumerate(fields):
        # Drop this field and every later one but the last: the first absent one is reported.
        partial = {k: v for k, v in record.items() if k not in fields[i:-1] and k != name}
        partial["unknown"] = [1, {"x": None}]
        text = json.dumps(partial, separators=(",", ":"))
        assert load(handle, in_series(kind, text)) == parse_error(f"missing field `{name}`"), name


@pytest.mark.parametrize("kind", KINDS)
def test_field_names_are_case_sensitive(handle, kind):
    record = RECORDS[kind][2].replace('"ts"', '"TS"')
    assert load(handle, in_series(kind, record)) == parse_error("missing field `ts`")


def test_wrong_field_reported_before_missing_field(handle):
    assert load(handle, '{"oi":[{"oi":"x"}]}') == parse_error('invalid type: string "x", expected f64')


# --- field values -----------------------------------------------------------

@pytest.mark.parametrize(
    "ts, expected",
    [
        ("9223372036854775807", None),
        ("-9223372036854775808", None),
        ("0", None),
        ("9223372036854775808", "invalid value: integer `9223372036854775808`, expected i64"),
        ("18446744073709551615", "invalid value: integer `18446744073709551615`, expected i64"),
        ("18446744073709551616", "invalid type: floating point `1.8446744073709552e+19`, expected i64"),
        ("-9223372036854775809", "invalid type: floating point `-9.223372036854776e+18`, expected i64"),
        ("1.5", "invalid type: floating point `1.5`, expected i64"),
        ("1.0", "invalid type: floating point `1.0`, expected i64"),
        ("1e3", "invalid type: floating point `1000.0`, expected i64"),
        ("-0", "invalid type: floating point `-0.0`, expected i64"),
        ("null", "invalid type: null, expected i64"),
        ('"1"', 'invalid type: string "1", expected i64'),
        ("[1]", "invalid type: sequence, expected i64"),
        ("{}", "invalid type: map, expected i64"),
    ],
    ids=["i64-max", "i64-min", "zero", "above-i64", "u64-max", "above-u64", "below-i64",
         "fraction", "integral-float", "exponent", "negative-zero", "null", "string", "array", "object"],
)
@pytest.mark.parametrize("form", [1, 2], ids=["array", "object"])
def test_ts_rules(handle, ts, expected, form):
    record = RECORDS["OiEvent"][form].replace("1", ts, 1)
    assert load(handle, in_series("OiEvent", record)) == (loaded(1) if expected is None else parse_error(expected))


@pytest.mark.parametrize(
    "value, expected",
    [
        ("3", None), ("-3", None), ("-0", None), ("18446744073709551615", None),
        ("1e308", None), ("1e-320", None), ("123456789012345678901234567890", None),
        ("null", "invalid type: null, expected f64"),
        ("true", "invalid type: boolean `true`, expected f64"),
        ('"1.5"', 'invalid type: string "1.5", expected f64'),
        ('"a\\"b\\\\c\\n"', 'invalid type: string "a\\"b\\\\c\\n", expected f64'),
        ("[]", "invalid type: sequence, expected f64"),
        ('{"x":1}', "invalid type: map, expected f64"),
    ],
    ids=["int", "negative-int", "negative-zero", "u64-max", "large", "subnormal", "beyond-u64",
         "null", "bool", "string", "string-escapes", "array", "object"],
)
@pytest.mark.parametrize("field", ["open", "high", "low", "close", "volume"])
def test_float_fields(handle, field, value, expected):
    record = json.loads(RECORDS["Candle"][2])
    text = json.dumps(record, separators=(",", ":")).replace('"%s":%s' % (field, record[field]), '"%s":%s' % (field, value))
    assert load(handle, in_series("Candle", text)) == (loaded(1) if expected is None else parse_error(expected))


ENUMS = [
    ("Trade", "side", "buy", "sell", "`buy` or `sell`"),
    ("BookEvent", "kind", "snapshot", "diff", "`snapshot` or `diff`"),
    ("LiquidationEvent", "side", "long", "short", "`long` or `short`"),
]
ENUM_CASES = [
    ('"{first}"', None),
    ('"{second}"', None),
    ('{{"{second}":null}}', None),
    ('"{upper}"', "unknown variant `{upper}`, expected {alternatives}"),
    ('""', "unknown variant ``, expected {alternatives}"),
    ('"{first} "', "unknown variant `{first} `, expected {alternatives}"),
    ('{{"{upper}":null}}', "unknown variant `{upper}`, expected {alternatives}"),
    ('{{"{upper}":1}}', "unknown variant `{upper}`, expected {alternatives}"),
    ('{{"{second}":1}}', "invalid type: integer `1`, expected unit"),
    ('{{"{second}":[]}}', "invalid type: sequence, expected unit"),
    ('{{"{second}":{{}}}}', "invalid type: map, expected unit"),
    ("{{}}", "invalid value: map, expected map with a single key"),
    ('{{"{first}":null,"{second}":null}}', "invalid value: map, expected map with a single key"),
    ("null", "invalid type: null, expected string or map"),
    ("0", "invalid type: integer `0`, expected string or map"),
    ('["{first}"]', "invalid type: sequence, expected string or map"),
]


@pytest.mark.parametrize("kind, field, first, second, alternatives", ENUMS, ids=[e[0] for e in ENUMS])
@pytest.mark.parametrize(
    "value, expected", ENUM_CASES,
    ids=["first-word", "second-word", "object-form", "upper-case", "empty-word", "trailing-blank",
         "object-unknown-key", "unknown-key-before-unit", "unit-int", "unit-array", "unit-map",
         "empty-map", "two-keys", "null", "int", "array"],
)
def test_enumeration_forms(handle, kind, field, first, second, alternatives, value, expected):
    words = dict(first=first, second=second, upper=first.upper(), alternatives=alternatives)
    record = RECORDS[kind][2].replace('"%s":"%s"' % (field, first), '"%s":%s' % (field, value.format(**words)))
    result = load(handle, in_series(kind, record))
    assert result == (loaded(1) if expected is None else parse_error(expected.format(**words)))


def test_unknown_variant_word_is_not_quoted(handle):
    record = '[1,1,1,"a\\"b\\nc"]'
    expected = r'{"ok":false,"error":"parse: unknown variant `a\"b\nc`, expected `buy` or `sell`"}'
    assert load(handle, in_series("Trade", record)) == expected


@pytest.mark.parametrize(
    "levels, expected",
    [
        ("[]", None),
        ("[[1,2],[1,2],[-0.5,1e300]]", None),
        ("null", "invalid type: null, expected a sequence"),
        ("[1,2]", "invalid type: integer `1`, expected an array of length 2"),
        ('[{"price":1,"qty":2}]', "invalid type: map, expected an array of length 2"),
        ("[null]", "invalid type: null, expected an array of length 2"),
        ("[[]]", "invalid length 0, expected an array of length 2"),
        ("[[1]]", "invalid length 1, expected an array of length 2"),
        ('[["x"]]', 'invalid type: string "x", expected f64'),
        ("[[1,null]]", "invalid type: null, expected f64"),
        ("[[1,2,3]]", "invalid length 3, expected fewer elements in array"),
        ("[[1,2,null,null]]", "invalid length 4, expected fewer elements in array"),
        ("[[1,true,3]]", "invalid type: boolean `true`, expected f64"),
        ("[[1,2],[3],[[]]]", "invalid length 1, expected an array of length 2"),
    ],
    ids=["empty", "three-levels", "null", "numbers", "object-level", "null-level", "no-element",
         "one-element", "string-price", "null-qty", "three-elements", "four-elements",
         "type-before-surplus", "first-bad-level"],
)
@pytest.mark.parametrize("side", ["bids", "asks"])
@pytest.mark.parametrize("form", [1, 2], ids=["array", "object"])
def test_book_levels(handle, side, levels, expected, form):
    event = {"ts": 1, "kind": "diff", "bids": [], "asks": []}
    if form == 1:
        text = "[1,\"diff\",%s,%s]" % ((levels, "[]") if side == "bids" else ("[]", levels))
    else:
        text = json.dumps(event, separators=(",", ":")).replace('"%s":[]' % side, '"%s":%s' % (side, levels))
    assert load(handle, in_series("BookEvent", text)) == (loaded(1) if expected is None else parse_error(expected))


# --- normalisation and bounds ------------------------------------------------

def test_bounds_over_all_six_series(handle):
    dataset = {
        "candles": [[40, 1, 1, 1, 1, 1]],
        "trades": [[30, 1, 1, "buy"], [-7, 1, 1, "sell"]],
        "book": [[20, "diff", [], []]],
        "funding": [[10, 0.1]],
        "oi": [[50, 1.0], [0, 2.0]],
        "liquidations": [[60, 1, 1, "long"]],
    }
    assert load(handle, json.dumps(dataset)) == loaded(8)
    assert bounds(handle) == '{"from_ts":-7,"to_ts":60,"count":8}'
    # Each series alone carries its own extremes, wherever they sit in the input.
    for name, records in dataset.items():
        single = tavrin_ovra.Ovra("")
        assert load(single, json.dumps({name: records})) == loaded(len(records))
        stamps = [r[0] for r in records]
        assert bounds(single) == '{"from_ts":%d,"to_ts":%d,"count":%d}' % (min(stamps), max(stamps), len(stamps))


@pytest.mark.parametrize(
    "stamps, expected",
    [
        ([5, 3, 5, 1], '{"from_ts":1,"to_ts":5,"count":4}'),
        ([-5], '{"from_ts":-5,"to_ts":-5,"count":1}'),
        ([9223372036854775807, -9223372036854775808],
         '{"from_ts":-9223372036854775808,"to_ts":9223372036854775807,"count":2}'),
        ([7, 7, 7], '{"from_ts":7,"to_ts":7,"count":3}'),
    ],
    ids=["unsorted-with-ties", "single-negative", "extremes", "all-equal"],
)
def test_bounds_text(handle, stamps, expected):
    trades = [[ts, 1, 1, "buy"] for ts in stamps]
    assert load(handle, json.dumps({"trades": trades})) == loaded(len(stamps))
    assert bounds(handle) == expected


def test_bounds_match_random_datasets():
    rng = random.Random(4)
    makers = {
        "candles": lambda ts: [ts, 1, 2, 0, 1, 3],
        "trades": lambda ts: {"side": "sell", "ts": ts, "qty": 1, "price": 2},
        "book": lambda ts: [ts, {"diff": None}, [[1, 2]], [[3, 4], [5, 6]]],
        "funding": lambda ts: [ts, -0.0001],
        "oi": lambda ts: {"oi": 10, "ts": ts},
        "liquidations": lambda ts: [ts, 1, 1, "short"],
    }
    for _ in range(30):
        handle = tavrin_ovra.Ovra("")
        dataset, stamps = {}, []
        for name, make in makers.items():
            series = [rng.randint(-10**15, 10**15) for _ in range(rng.randint(0, 6))]
            stamps += series
            dataset[name] = [make(ts) for ts in series]
        assert load(handle, json.dumps(dataset)) == loaded(len(stamps))
        expected = '{"from_ts":%d,"to_ts":%d,"count":%d}' % (min(stamps), max(stamps), len(stamps)) if stamps else NO_DATASET
        assert bounds(handle) == expected


# --- handle state -----------------------------------------------------------

def test_fresh_handle_has_no_dataset(handle):
    assert bounds(handle) == NO_DATASET


def test_empty_dataset_loads_and_bounds_say_no_dataset(handle):
    assert load(handle, '{"trades":[[1,1,1,"buy"]]}') == loaded(1)
    assert load(handle, '{"candles":[],"trades":[]}') == loaded(0)
    assert bounds(handle) == NO_DATASET


@pytest.mark.parametrize(
    "bad",
    ['{"trades":[[2,1,1,"buy"],[3,1,1,"BUY"]]}',
     '{"candles":[[100,1,1,1,1,1]],"trades":5}',
     '[[[100,1,1,1,1,1]],[],[],[],[],[],[]]',
     "null"],
    ids=["bad-element-after-good", "bad-series-after-good", "surplus-after-good-series", "not-a-dataset"],
)
def test_failed_load_keeps_previous_dataset(handle, bad):
    assert load(handle, '{"oi":[[10,1],[-3,2]]}') == loaded(2)
    before = bounds(handle)
    assert load(handle, bad).startswith('{"ok":false,"error":"parse: ')
    assert bounds(handle) == before == '{"from_ts":-3,"to_ts":10,"count":2}'


def test_failed_load_on_fresh_handle_stays_empty(handle):
    assert load(handle, '{"funding":[[1,0.1],[2]]}') == parse_error("invalid length 1, expected struct FundingEvent with 2 elements")
    assert bounds(handle) == NO_DATASET


def test_load_replaces_whole_dataset(handle):
    assert load(handle, '{"candles":[[1,1,1,1,1,1]],"oi":[[500,1]]}') == loaded(2)
    assert load(handle, '{"trades":[[7,1,1,"buy"]]}') == loaded(1)
    assert bounds(handle) == '{"from_ts":7,"to_ts":7,"count":1}'


def test_load_dataset_member_rules(handle):
    assert handle.command('{"cmd":"load"}') == '{"ok":false,"error":"bad spec: load requires \'dataset\'"}'
    assert handle.command('{"cmd":"load","Dataset":{}}') == '{"ok":false,"error":"bad spec: load requires \'dataset\'"}'
    assert handle.command('{"dataset":{"oi":[[1,1]]},"cmd":"load","ts":"x"}') == loaded(1)
    # A later repetition of the member replaces the earlier one.
    assert handle.command('{"cmd":"load","dataset":5,"dataset":{"oi":[[2,1],[3,1]]}}') == loaded(2)


def test_reset_empties_dataset(handle):
    assert load(handle, '{"oi":[[1,1]]}') == loaded(1)
    assert handle.command('{"cmd":"reset"}') == '{"ok":true}'
    assert bounds(handle) == NO_DATASET


def _resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096


@pytest.mark.memory_accounting
@pytest.mark.skipif(not __import__("os").path.exists("/proc/self/statm"), reason="needs /proc")
def test_repeated_loads_do_not_grow_memory(handle):
    book = [[ts, "diff", [[1.5, 2]] * 20, [[2.5, 1]] * 20] for ts in range(500)]
    good = json.dumps({"trades": [[ts, 1, 1, "buy"] for ts in range(2000)], "book": book})
    # Fails on the last book event, after everything before it was converted.
    bad = good[: good.rindex("]]]") ] + ",[1]]]]}"
    assert load(handle, bad) == parse_error("invalid length 1, expected an array of length 2")
    for _ in range(20):
        load(handle, good), load(handle, bad)
    start = _resident_bytes()
    for _ in range(100):
        assert load(handle, good) == loaded(2500)
        assert load(handle, bad) != loaded(2500)
    assert _resident_bytes() - start < 8 * 2**20
