"""Pictures of frames: drawn headless on Agg, from texts or dicts, empty panels included."""

import json

import pytest

pytest.importorskip("matplotlib")

from tavrin_ovra import cli, plot  # noqa: E402

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
T0 = 1_709_251_200_000

FULL = {
    "symbol": "BTC-PERP",
    "cursor_ts": T0 + 180_000,
    "panels": [
        {"kind": "footprint", "price_bins": [99.0, 100.0, 101.0],
         "buy_vol": [1.5, 0.0, None], "sell_vol": [0.25, 2.0, 1.0]},
        {"kind": "book_heatmap", "time": [T0, T0 + 60_000, T0 + 120_000],
         "price": [99.0, 100.0], "intensity": [[1.0, -0.0], [None, 3.0], [2.0, 0.5]]},
        {"kind": "liquidation_map", "events": [
            {"ts": T0 + 5, "price_bin": 99.0, "qty": 0.5, "side": "long"},
            {"ts": T0 + 90_000, "price_bin": 101.0, "qty": None, "side": "short"}]},
        {"kind": "funding_oi_divergence", "time": [T0, T0 + 60_000, T0 + 120_000],
         "funding": [0.0001, -0.00005, 0.0], "oi": [0.0, 10.0, 12.5],
         "price": [100.0, 100.5, None]},
    ],
}

EMPTY = {
    "symbol": "S", "cursor_ts": 0,
    "panels": [
        {"kind": "footprint", "price_bins": [], "buy_vol": [], "sell_vol": []},
        {"kind": "book_heatmap", "time": [], "price": [], "intensity": []},
        {"kind": "liquidation_map", "events": []},
        {"kind": "funding_oi_divergence", "time": [], "funding": [], "oi": [], "price": []},
    ],
}

SINGLE = {
    "symbol": "S", "cursor_ts": 7,
    "panels": [
        {"kind": "footprint", "price_bins": [5.0], "buy_vol": [1.0], "sell_vol": [0.0]},
        {"kind": "book_heatmap", "time": [0], "price": [5.0], "intensity": [[0.0]]},
        {"kind": "liquidation_map", "events": [{"ts": 7, "price_bin": 5.0, "qty": 0.0,
                                                "side": "long"}]},
        {"kind": "funding_oi_divergence", "time": [0], "funding": [0.0], "oi": [0.0],
         "price": [0.0]},
    ],
}


@pytest.mark.parametrize("frame", [FULL, EMPTY, SINGLE, json.dumps(FULL),
                                   json.dumps(FULL).encode()],
                         ids=["full", "empty-panels", "single-values", "text", "bytes"])
def test_render_writes_a_png(tmp_path, frame):
    out = tmp_path / "frame.png"
    plot.render_frame(frame, out)
    assert out.read_bytes().startswith(PNG_SIGNATURE)


def test_one_tile_per_panel_with_titles():
    figure = plot.frame_figure(FULL)
    titles = " ".join(text.get_text() for text in figure.findobj(
        lambda artist: hasattr(artist, "get_text")))
    for name in ("Footprint", "Book heatmap", "Liquidation map",
                 "Funding, open interest and price", "2024-03-01 00:03:00 UTC"):
        assert name in titles
    assert len(figure.subfigs) == 4


@pytest.mark.parametrize("panels, tiles", [([], 1), (FULL["panels"][:1], 1),
                                           (FULL["panels"] * 2, 8)],
                         ids=["none", "one", "eight"])
def test_any_number_of_panels(panels, tiles):
    figure = plot.frame_figure({"symbol": "S", "cursor_ts": 0, "panels": panels})
    assert len(figure.subfigs) == tiles


def test_error_response_is_refused():
    with pytest.raises(ValueError, match="data: no dataset"):
        plot.frame_figure('{"ok":false,"error":"data: no dataset"}')


def test_render_command(tmp_path, capsys):
    data, spec, out = tmp_path / "d.json", tmp_path / "s.json", tmp_path / "out.png"
    assert cli.main(["sample", "-o", str(data), "--minutes", "2", "--spec", str(spec)]) == 0
    assert cli.main(["render", "--dataset", str(data), "--spec", str(spec),
                     "-o", str(out)]) == 0
    assert out.read_bytes().startswith(PNG_SIGNATURE)
    assert capsys.readouterr().out.endswith(f"wrote {out}\n")


def test_demo_draws_its_picture(tmp_path, capsys, monkeypatch):
    monkeypatch.chdir(tmp_path)
    assert cli.main(["demo", "--minutes", "2"]) == 0
    assert (tmp_path / "demo.png").read_bytes().startswith(PNG_SIGNATURE)
    assert "  render demo.png " in capsys.readouterr().out
