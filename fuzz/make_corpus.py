#!/usr/bin/env python3
"""Writes the seed corpora: fuzz/corpus/ for fuzz_commands (command sequences,
texts joined by the byte 0x1E, that reach every command, valid and malformed)
and fuzz/corpus_spec/ for fuzz_spec_text (constructor spec texts). Run it again
after changing the seeds; the files are kept in the repository."""

import json
import os
import shutil

SEP = "\x1e"

DATASET = {
    "candles": [[60000, 100.0, 101.0, 99.5, 100.5, 12.0], {"ts": 120000, "open": 100.5, "high": 102, "low": 100,
                                                           "close": 101.5, "volume": 3}],
    "trades": [[61000, 100.25, 1.5, "buy"], {"ts": 59000, "price": 99.75, "qty": 2, "side": {"sell": None}},
               [61000, -0.5, 0.25, "sell"]],
    "book": [[60000, "snapshot", [[100.0, 5.0], [99.0, 3.0]], [[101.0, 4.0]]],
             {"ts": 90000, "kind": "diff", "bids": [[100.0, 0.0]], "asks": [[101.5, 2.0]]}],
    "funding": [[60000, 0.0001], {"ts": 180000, "rate": -0.000123456789}],
    "oi": [[60000, 1500.0], [240000, 1520.5]],
    "liquidations": [[70000, 99.3, 1.25, "long"], {"ts": 65000, "price": 100.7, "qty": 0.5, "side": "short"}],
}

SPEC = {
    "dataset_ref": "seed",
    "symbol": "BTC-\"PERP\"\n",
    "panels": [
        {"kind": "footprint", "price_bin": 0.5},
        {"kind": "book_heatmap", "price_bin": 1, "bucket_ms": 30000, "depth_levels": 4},
        {"kind": "liquidation_map"},
        ["funding_oi_divergence", 60000],
    ],
}

WINDOWED_SPEC = ["seed", "ETH", 60000, 120000, [["footprint", 0.25, 1000], {"kind": "liquidation_map", "price_bin": 2}]]


def cmd(name, **members):
    return json.dumps({"cmd": name, **members}, separators=(",", ":"))


SEEDS = {
    "happy_path": [cmd("set_spec", spec=SPEC), cmd("load", dataset=DATASET), cmd("frame"),
                   cmd("frame_at", ts=90000), cmd("bounds"), cmd("reset"), cmd("frame"), cmd("version")],
    "array_forms": [cmd("load", dataset=[DATASET["candles"], [], [], DATASET["funding"]]),
                    cmd("set_spec", spec=WINDOWED_SPEC), cmd("frame_at", ts=9223372036854775807),
                    cmd("frame_at", ts=-9223372036854775808), cmd("frame")],
    "failed_commands_keep_state": [cmd("set_spec", spec=SPEC), cmd("load", dataset=DATASET),
                                   cmd("load", dataset=None), cmd("set_spec", spec={**SPEC, "symbol": ""}),
                                   '{"cmd":"frame_at","ts":1.0}', '{"cmd":"frame_at","ts":-0}',
                                   '{"cmd":"frame_at","ts":9223372036854775808}', cmd("bounds")],
    "empty_dataset": [cmd("load", dataset={}), cmd("bounds"), cmd("set_spec", spec=SPEC), cmd("frame")],
    "protocol_errors": ["", " ", "[]", "null", "{}", '{"cmd":1}', '{"cmd":""}', '{"cmd":"VERSION"}',
                        '{"cmd":"version"}\n', '{"cmd":"version"}x', '{"cmd":"version"}{}', cmd("load"),
                        cmd("set_spec"), '{"cmd":"a\\"b\\\\c\\nd\\u0001\u00e9"}'],
    "syntax_errors": ['{"cmd":"load","dataset":[1,2,]}', '{"cmd":', '{"cmd":"x"', '{"cmd" "x"}',
                      '{"cmd":"\\ud800"}', '{"cmd":"\\udc00x"}', '{"cmd":"\\x"}', '{"cmd":tru}',
                      '{"cmd":"version","n":1e400}', '{"cmd":"version","n":-}', '{1:2}', '\t\r\n{"cmd":"reset"}'],
    "nesting": ["[" * 127 + "]" * 127, "[" * 128 + "]" * 128, '{"cmd":"version","x":' + "[" * 126 + "]" * 126 + "}"],
    "reading_errors": [cmd("load", dataset={"trades": [[1, 2, 3, "BUY"]]}),
                       cmd("load", dataset={"candles": [[1, 2, 3, 4, 5]]}),
                       cmd("load", dataset={"trades": 5, "book": 5}),
                       cmd("load", dataset={"book": [[1, "diff", [[1.0]], []]]}),
                       cmd("load", dataset=[[], [], [], [], [], [], []]),
                       cmd("set_spec", spec=["a", "b"]),
                       cmd("set_spec", spec={**SPEC, "panels": [{"kind": "Footprint"}]}),
                       cmd("set_spec", spec={**SPEC, "panels": [["liquidation_map", 1, 2]]}),
                       cmd("set_spec", spec={**SPEC, "panels": [{"kind": "book_heatmap", "depth_levels": -1}]})],
    "validation_errors": [cmd("set_spec", spec={**SPEC, "from_ts": 5, "to_ts": 4}),
                          cmd("set_spec", spec={**SPEC, "panels": []}),
                          cmd("set_spec", spec={**SPEC, "panels": [{"kind": "footprint", "price_bin": 0}]}),
                          cmd("set_spec", spec={**SPEC, "panels": [{"kind": "book_heatmap", "bucket_ms": 0,
                                                                    "depth_levels": 0}]}),
                          cmd("set_spec", spec={**SPEC, "panels": [["funding_oi_divergence", -1]]}),
                          cmd("set_spec", spec={**SPEC, "panels": [{"kind": "footprint", "price_bin": 5e-324,
                                                                    "bucket_ms": 1}]}),
                          cmd("load", dataset=DATASET), cmd("frame")],
    "extreme_values": [cmd("load", dataset={"trades": [[-9223372036854775808, 1e308, 1e308, "buy"],
                                                       [9223372036854775807, -1e308, 5e-324, "sell"]],
                                            "funding": [[-9223372036854775808, 1e300], [9223372036854775807, 0]],
                                            "liquidations": [[0, 1e308, -0.0, "long"]]}),
                       cmd("set_spec", spec={"dataset_ref": "", "symbol": " ", "panels": [
                           {"kind": "footprint", "price_bin": 5e-324},
                           {"kind": "liquidation_map", "price_bin": 1e-300},
                           {"kind": "funding_oi_divergence", "bucket_ms": 9223372036854775807},
                           {"kind": "book_heatmap", "bucket_ms": 9223372036854775807, "depth_levels": 1}]}),
                       cmd("frame"), cmd("frame_at", ts=0)],
    # Grid panels share one budget per frame; the harness runs any number of
    # them. Small grids: every mutation of a seed pays for its frames.
    "many_grid_panels": [cmd("load", dataset=DATASET), cmd("set_spec", spec={**SPEC, "panels": [
                             {"kind": "book_heatmap", "price_bin": 0.5, "bucket_ms": 1000, "depth_levels": 3},
                             ["funding_oi_divergence", 1000], ["footprint", 1],
                             ["book_heatmap", 2, 60000, 1], ["funding_oi_divergence", 7000],
                             {"kind": "book_heatmap", "bucket_ms": 2500, "depth_levels": 20},
                             {"kind": "funding_oi_divergence", "bucket_ms": 60000}, ["liquidation_map", 0.25],
                             ["funding_oi_divergence", 9000]]}),
                         cmd("frame"), cmd("frame_at", ts=100000), cmd("frame_at", ts=60000)],
    # Five grids of about nine million cells each pass one by one but not
    # together; up to ts 4,500,000 the same five fit the budget (22.5 million
    # cells), too many to compute here: the harness stops before that frame.
    "frame_grids_too_large": [cmd("load", dataset={"oi": [[0, 1.5], [4500000, 2.0], [9000000, 2.5]],
                                                   "book": [[0, "snapshot", [[99.0, 1.0]], [[101.0, 1.0]]],
                                                            [4500000, "diff", [[99.0, 3.0]], []],
                                                            [9000000, "diff", [[99.0, 2.0]], []]]}),
                              cmd("set_spec", spec={"dataset_ref": "big", "symbol": "S", "panels": [
                                  {"kind": "book_heatmap", "bucket_ms": 9, "depth_levels": 9}]
                                  + [["funding_oi_divergence", 1]] * 4}),
                              cmd("frame"), cmd("frame_at", ts=0), cmd("frame_at", ts=4500000)],
    "repeated_keys": ['{"cmd":"load","cmd":"version"}', '{"cmd":"frame_at","ts":"x","ts":5}',
                      '{"cmd":"load","dataset":{"oi":[[1,2]],"oi":[]}}', cmd("bounds")],
}


SPEC_TEXTS = {
    "object": json.dumps(SPEC, indent=1),
    "array": json.dumps(WINDOWED_SPEC),
    "padded": "\u3000\t " + json.dumps(SPEC) + "\u2028\n",
    "duplicate_field": '{"dataset_ref":"a","symbol":"b","symbol":"c","panels":[{"kind":"footprint"}]}',
    "duplicate_unknown": '{"x":1,"x":[{"y":2}],"dataset_ref":"a","symbol":"b","panels":[["liquidation_map"]]}',
    "kind_last": '{"dataset_ref":"a","symbol":"b","panels":[{"price_bin":2,"bucket_ms":5,"kind":"footprint"}]}',
    "trailing": json.dumps(WINDOWED_SPEC) + " x",
    "six_elements": '["a","b",null,null,[],7]',
    "blank_braces": "{ }",
    "nested": '{"x":' + "[" * 125 + "]" * 125 + ',"dataset_ref":"a","symbol":"b","panels":[{"kind":"footprint"}]}',
    "bad_values": '{"dataset_ref":"a","symbol":"b","from_ts":1.0,"to_ts":18446744073709551616,'
                  '"panels":[{"kind":"book_heatmap","depth_levels":-1}]}',
    "skipped_out_of_range": '{"x":[1e3085],"dataset_ref":"","symbol":"s","panels":[{"kind":"footprint","q":-1e999}]}',
    "invalid_rules": '{"dataset_ref":"","symbol":"s","from_ts":5,"to_ts":4,"panels":[{"kind":"footprint"}]}',
}


def write_seeds(directory, seeds):
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(directory)
    for name, data in seeds.items():
        with open(os.path.join(directory, name), "wb") as f:
            f.write(data.encode("utf-8") if isinstance(data, str) else data)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    write_seeds(os.path.join(here, "corpus_spec"), SPEC_TEXTS)
    out = os.path.join(here, "corpus")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    for name, commands in SEEDS.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(SEP.join(commands).encode("utf-8"))
    # Bytes that are not UTF-8, inside and outside a string.
    with open(os.path.join(out, "not_utf8"), "wb") as f:
        f.write(b'{"cmd":"\xff\xfe"}' + SEP.encode() + b'{"cmd":"version"}\xc3' + SEP.encode() + b'\xed\xa0\x80')


if __name__ == "__main__":
    main()
