"""The direct "load" road against the value-tree road.

OVRA_LOAD_ROAD=tree sends every load to the tree road; the answers of the two
roads (the load answer, "bounds" and a frame of every panel kind) must be the
same bytes, whether the direct road takes the text or falls back.
"""

import json

import pytest

from tavrin_ovra import Ovra

SPEC = json.dumps(
    {
        "dataset_ref": "d",
        "symbol": "S",
        "panels": [
            {"kind": "footprint", "price_bin": 1.0, "bucket_ms": 10},
            {"kind": "book_heatmap", "price_bin": 1.0, "bucket_ms": 10, "depth_levels": 5},
            {"kind": "liquidation_map", "price_bin": 1.0},
            {"kind": "funding_oi_divergence", "bucket_ms": 10},
        ],
    }
)


def answers(text, road, monkeypatch):
    if road == "tree":
        monkeypatch.setenv("OVRA_LOAD_ROAD", "tree")
    else:
        monkeypatch.delenv("OVRA_LOAD_ROAD", raising=False)
    handle = Ovra(SPEC)
    loaded = handle.command(text)
    monkeypatch.delenv("OVRA_LOAD_ROAD", raising=False)
    return [loaded, handle.command('{"cmd":"bounds"}'), handle.command('{"cmd":"frame"}')]


def load(dataset):
    return '{"cmd":"load","dataset":' + dataset + "}"


TRADES = '[[5,100.5,1,"sell"],[3,101,2.25,"buy"],[5,99,3,{"buy":null}],[1,100,0.5,"sell"]]'
BOOK = (
    '[{"ts":4,"kind":"snapshot","bids":[[99,1],[98,2]],"asks":[[101,1.5]]},'
    '[6,{"diff":null},[[99,0]],[[102,3],[101,0]]],'
    '{"asks":[],"bids":[[97.5,4]],"kind":"diff","ts":2}]'
)
TAKEN = {
    "both forms": load('{"trades":' + TRADES + ',"book":' + BOOK + "}"),
    "array dataset": load("[[[1,1,2,0.5,1.5,10]]," + TRADES + "," + BOOK + ",[[3,0.0001]],[[3,5e3]],[[4,100,2,\"long\"]]]"),
    "key order": load('{"oi":[{"oi":7,"ts":2}],"funding":[{"rate":-0.01,"ts":1}],"liquidations":'
                      '[{"side":"short","qty":1,"price":100,"ts":3}]}'),
    "repeated record field": load('{"trades":[{"ts":1,"price":5,"qty":1,"side":"buy","price":100,"ts":7}]}'),
    "repeated series": load('{"trades":[[1,1,1,"buy"]],"oi":[],"trades":' + TRADES + "}"),
    "repeated dataset": load('{"trades":[[9,1,1,"buy"]]},"dataset":{"trades":' + TRADES + "}"),
    "repeated cmd": '{"cmd":"bounds","dataset":{"trades":' + TRADES + '},"cmd":"load"}',
    "unknown members": '{"x":[1,{"y":[null,true,"\\u00e9"]}],"cmd":"load","dataset":{"trades":'
    + '[{"ts":1,"note":{"a":[1e300]},"price":1,"qty":1,"side":"buy"}],"extra":-0.0},"z":0}',
    "integer to double": load('{"trades":[[1,9007199254740993,18446744073709551615,"buy"],'
                              '[2,-9223372036854775808,123456789012345678901234,"sell"]]}'),
    "huge and tiny": load('{"trades":[[1,1.7976931348623157e308,5e-324,"buy"],[2,1e-400,2.2250738585072014e-308,"sell"],'
                          '[3,0.1234567890123456789012,123456.789e-3,"buy"]]}'),
    "negative zero": load('{"trades":[[1,-0.0,-0,"buy"],[2,-0,0.0,"sell"]],"oi":[[1,-0.0]]}'),
    "ts limits": load('{"trades":[[9223372036854775807,1,1,"buy"],[-9223372036854775808,1,1,"sell"]]}'),
    "escaped keys and words": load('{"tr\\u0061des":[{"t\\u0073":1,"price":1,"qty":1,"side":"b\\u0075y"}]}'),
    "white space": " \n" + '{ "cmd" : "load" ,\r\n "dataset" : { "trades" : [ [ 1 , 2 , 3 , "buy" ] ] } }\t\n',
    "empty": load("{}"),
    "empty array": load("[[],[]]"),
}


@pytest.mark.parametrize("text", TAKEN.values(), ids=TAKEN.keys())
def test_roads_agree_on_taken_texts(text, monkeypatch):
    direct = answers(text, "direct", monkeypatch)
    assert direct[0].startswith('{"ok":true')
    assert direct == answers(text, "tree", monkeypatch)


# Texts the direct road gives up: the tree road's answer, exactly.
FALLBACK = {
    "syntax after dataset": (load('{"trades":[]}')[:-1] + ",}", "parse: trailing comma at line 1 column 39"),
    "trailing characters": (load("{}") + "x", "parse: trailing characters at line 1 column 28"),
    "type": (load('{"trades":[[1,"2",3,"buy"]]}'), 'parse: invalid type: string "2", expected f64'),
    "length": (load('{"candles":[[1,2,3,4,5]]}'), "parse: invalid length 5, expected struct Candle with 6 elements"),
    "enum": (load('{"trades":[[1,2,3,"BUY"]]}'), "parse: unknown variant `BUY`, expected `buy` or `sell`"),
    "missing field": (load('{"trades":[{"ts":1,"side":"buy"}]}'), "parse: missing field `price`"),
    "i64 range": (load('{"oi":[[9223372036854775808,1]]}'),
                  "parse: invalid value: integer `9223372036854775808`, expected i64"),
    "number range after dataset": (load("{}")[:-1] + ',"x":1e400}', "parse: number out of range at line 1 column 36"),
    "lone surrogate in skipped member": ('{"cmd":"load","dataset":{},"x":"\\udc00"}',
                                         "parse: lone leading surrogate in hex escape at line 1 column 38"),
    "first of two datasets converts": ('{"cmd":"load","dataset":{},"dataset":5}',
                                       "parse: invalid type: integer `5`, expected struct Dataset"),
    "null dataset": (load("null"), "parse: invalid type: null, expected struct Dataset"),
    "not load": ('{"cmd":"bounds","dataset":{}}', "data: no dataset"),
    "cmd not a string": ('{"cmd":["load"],"dataset":{}}', "bad spec: missing 'cmd'"),
    "enum map with two keys": (load('{"trades":[[1,2,3,{"buy":null,"sell":null}]]}'),
                               "parse: invalid value: map, expected map with a single key"),
    "too deep in skipped member": ('{"cmd":"load","dataset":{"x":' + "[" * 126 + "]" * 126 + "}}",
                                   "parse: recursion limit exceeded at line 1 column 155"),
}


@pytest.mark.parametrize("text, message", FALLBACK.values(), ids=FALLBACK.keys())
def test_fallback_answers_exactly(text, message, monkeypatch):
    expected = json.dumps({"ok": False, "error": message}, separators=(",", ":"))
    direct = answers(text, "direct", monkeypatch)
    assert direct[0] == expected
    assert direct == answers(text, "tree", monkeypatch)


# Texts the direct road does not take although they load: the tree road loads them.
UNTAKEN_SUCCESS = {
    "earlier dataset fails": '{"cmd":"load","dataset":7,"dataset":{"trades":' + TRADES + "}}",
    "earlier record field fails": load('{"trades":[{"ts":"x","ts":1,"price":1,"qty":1,"side":"buy"}]}'),
    "repeated bids": load('{"book":[{"ts":1,"kind":"diff","bids":[[1,1]],"asks":[],"bids":[[2,2]]}]}'),
    "repeated enum key": load('{"trades":[[1,2,3,{"sell":null,"sell":null}]]}'),
}


@pytest.mark.parametrize("text", UNTAKEN_SUCCESS.values(), ids=UNTAKEN_SUCCESS.keys())
def test_untaken_texts_still_load(text, monkeypatch):
    direct = answers(text, "direct", monkeypatch)
    assert direct[0].startswith('{"ok":true')
    assert direct == answers(text, "tree", monkeypatch)


def test_failed_direct_attempt_keeps_previous_dataset():
    handle = Ovra("")
    assert handle.command(load('{"trades":[[5,1,1,"buy"]]}')) == '{"ok":true,"loaded":1}'
    assert handle.command(load('{"trades":[[6,1,1,"buy"]],"oi":[[1]]}')).startswith('{"ok":false')
    assert handle.command('{"cmd":"bounds"}') == '{"from_ts":5,"to_ts":5,"count":1}'
