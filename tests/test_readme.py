"""The worked examples of the README are real answers: replay them."""

import json
import os
import re

import pytest

import tavrin_ovra

README = os.path.join(os.path.dirname(__file__), os.pardir, "README.md")

# The panel each worked example of the frames section is computed with, in README order.
EXAMPLE_PANELS = [
    {"kind": "footprint", "price_bin": 10},
    {"kind": "book_heatmap", "price_bin": 1, "bucket_ms": 1000, "depth_levels": 4},
    {"kind": "liquidation_map", "price_bin": 5},
    {"kind": "funding_oi_divergence", "bucket_ms": 60000},
]


def code_blocks(section_title):
    with open(README, encoding="utf-8") as readme:
        text = readme.read()
    section = text.split("## " + section_title, 1)[1].split("\n## ", 1)[0]
    return re.findall(r"```\n(.*?)```", section, re.S)


def exchanges(block):
    """(command, expected response or None) pairs of one example block."""
    pairs = []
    for line in block.splitlines():
        if line.startswith("-> "):
            pairs[-1] = (pairs[-1][0], line[3:])
        else:
            pairs.append((line, None))
    return pairs


@pytest.mark.parametrize("index", range(len(EXAMPLE_PANELS)), ids=[p["kind"] for p in EXAMPLE_PANELS])
def test_frame_examples(index):
    blocks = code_blocks("Frames, one worked example per panel")
    assert len(blocks) == len(EXAMPLE_PANELS)
    spec = {"dataset_ref": "readme", "symbol": "BTC-PERP", "panels": [EXAMPLE_PANELS[index]]}
    handle = tavrin_ovra.Ovra(json.dumps(spec))
    for command, expected in exchanges(blocks[index]):
        response = handle.command(command)
        if expected is not None:
            assert response == expected
        else:
            assert response.startswith('{"ok":true'), response


def test_error_examples():
    (block,) = code_blocks("Commands and responses")
    handle = tavrin_ovra.Ovra("")
    for line in block.replace("\n" + " " * 44 + "->", " ->").splitlines():
        command, expected = (part.strip() for part in line.split(" -> "))
        command = command.replace('(after "reset")', "").strip()
        assert handle.command(command) == expected
