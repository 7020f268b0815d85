"""The command line: exit statuses, one-line errors, and the files it reads and writes."""

import json
import os
import subprocess
import sys

import pytest

from tavrin_ovra import cli, sample

PROG = "tavrin-ovra"


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    """Three minutes of sample data and a spec for it, written by the `sample` command."""
    folder = tmp_path_factory.mktemp("cli")
    data, spec = folder / "data.json", folder / "spec.json"
    assert cli.main(["sample", "-o", str(data), "--minutes", "3", "--spec", str(spec)]) == 0
    return folder, str(data), str(spec)


def run(capsys, *argv):
    status = cli.main(list(argv))
    out, err = capsys.readouterr()
    return status, out, err


def write(folder, name, text):
    path = folder / name
    path.write_text(text)
    return str(path)


def test_sample_writes_the_generated_text(files):
    _folder, data, spec = files
    with open(data) as text:
        assert text.read() == sample.sample_dataset(minutes=3)
    with open(spec) as text:
        assert json.loads(text.read()) == json.loads(sample.sample_spec())


def test_frame_prints_the_frame_json(capsys, files):
    _folder, data, spec = files
    status, out, err = run(capsys, "frame", "--dataset", data, "--spec", spec)
    assert (status, err) == (0, "")
    frame = json.loads(out)
    assert [p["kind"] for p in frame["panels"]] == [
        "footprint", "book_heatmap", "liquidation_map", "funding_oi_divergence"]
    assert out.endswith("}\n") and "\n" not in out[:-1]


@pytest.mark.parametrize("at", ["1709251320000", "2024-03-01T00:02:00Z",
                                "2024-03-01T00:02:00", "2024-03-01T01:02:00+01:00"],
                         ids=["ms", "iso-z", "iso-naive-is-utc", "iso-offset"])
def test_frame_at_takes_milliseconds_or_iso_times(capsys, files, at):
    _folder, data, spec = files
    status, out, _err = run(capsys, "frame", "--dataset", data, "--spec", spec, "--at", at)
    assert status == 0
    assert out.startswith('{"symbol":"BTC-PERP","cursor_ts":1709251320000,')


BAD_DATASETS = [
    ("bad-variant", '{"trades":[[1,2,3,"BUY"]]}',
     "parse: unknown variant `BUY`, expected `buy` or `sell`"),
    # {"trades":[
    #   [1,2,3,"buy"],]}
    #                 ^ line 2 column 17
    ("syntax-position", '{"trades":[\n  [1,2,3,"buy"],]}',
     "parse: trailing comma at line 2 column 17"),
    # ^ the first byte of the file is line 1 column 1, as in the file
    ("first-byte", "x", "parse: expected value at line 1 column 1"),
    ("cut-short", '{"trades":[', "parse: expected value at the end of the file"),
    ("no-records", "{}", "the dataset holds no records"),
    ("blank", " \n", "the dataset is empty"),
]


@pytest.mark.parametrize("text, message", [c[1:] for c in BAD_DATASETS],
                         ids=[c[0] for c in BAD_DATASETS])
def test_bad_dataset_is_one_line_naming_the_file(capsys, files, text, message):
    folder, _data, spec = files
    bad = write(folder, "bad.json", text)
    status, out, err = run(capsys, "frame", "--dataset", bad, "--spec", spec)
    assert (status, out) == (1, "")
    assert err == f"{PROG}: error: {bad}: {message}\n"


BAD_SPECS = [
    ("rule", '{"dataset_ref":"x","symbol":"","panels":[{"kind":"footprint"}]}',
     "bad spec: symbol must not be empty"),
    ("reading", '{"dataset_ref":"x","symbol":"S"}', "parse: missing field `panels`"),
    ("syntax", '{"dataset_ref":"x",\n "symbol" "S"}', "parse: expected `:` at line 2 column 11"),
]


@pytest.mark.parametrize("text, message", [c[1:] for c in BAD_SPECS],
                         ids=[c[0] for c in BAD_SPECS])
def test_bad_spec_is_one_line_naming_the_file(capsys, files, text, message):
    folder, data, _spec = files
    bad = write(folder, "bad-spec.json", text)
    status, _out, err = run(capsys, "frame", "--dataset", data, "--spec", bad)
    assert status == 1
    assert err == f"{PROG}: error: {bad}: {message}\n"


def test_missing_file(capsys, files):
    folder, _data, spec = files
    missing = str(folder / "missing.json")
    status, _out, err = run(capsys, "frame", "--dataset", missing, "--spec", spec)
    assert (status, err) == (1, f"{PROG}: error: {missing}: No such file or directory\n")


def test_spec_refused_by_a_rule_of_the_module(capsys, files):
    folder, data, _spec = files
    spec = write(folder, "late.json", json.dumps(
        {"dataset_ref": "x", "symbol": "S", "from_ts": 5, "to_ts": 4,
         "panels": [{"kind": "footprint"}]}))
    status, _out, err = run(capsys, "frame", "--dataset", data, "--spec", spec)
    assert (status, err) == (1, f"{PROG}: error: {spec}: bad spec: from_ts must be <= to_ts\n")


def test_cursor_refused_by_the_module(capsys, files):
    _folder, data, spec = files
    status, _out, err = run(capsys, "frame", "--dataset", data, "--spec", spec,
                            "--at", str(2**63))
    assert (status, err) == (1, f"{PROG}: error: bad spec: frame_at requires integer 'ts'\n")


@pytest.mark.parametrize("argv", [
    ["frame", "--dataset", "d.json"],
    ["frame", "--dataset", "d.json", "--spec", "s.json", "--at", "yesterday"],
    ["sample", "-o", "x.json", "--minutes", "0"],
    ["launch"],
], ids=["missing-spec", "bad-at", "zero-minutes", "unknown-command"])
def test_usage_errors_exit_2(capsys, argv):
    with pytest.raises(SystemExit) as stop:
        cli.main(argv)
    assert stop.value.code == 2
    assert "error:" in capsys.readouterr().err


def test_no_command_prints_help(capsys):
    assert cli.main([]) == 2
    assert "demo" in capsys.readouterr().err


def test_render_without_matplotlib(capsys, files, monkeypatch):
    _folder, data, spec = files
    monkeypatch.setattr(cli, "_plotting", lambda: None)
    status, _out, err = run(capsys, "render", "--dataset", data, "--spec", spec, "-o", "x.png")
    assert status == 1
    assert err == f'{PROG}: error: render needs matplotlib: pip install "tavrin_ovra[plot]"\n'


def test_demo_prints_timings_and_a_line_per_panel(capsys, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    status, out, err = run(capsys, "demo", "--minutes", "2", "--no-plot")
    assert (status, err) == (0, "")
    for step in ("generate sample", "load", "frame"):
        assert f"  {step} " in out
    for panel in ("footprint", "book heatmap", "liquidation map", "funding / OI"):
        assert f"\n  {panel} " in out
    assert not os.listdir(tmp_path)


def test_module_entry_point_fails_without_traceback(tmp_path):
    bad = write(tmp_path, "bad.json", "[[1]]")
    spec = write(tmp_path, "spec.json", sample.sample_spec())
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    done = subprocess.run(
        [sys.executable, "-m", "tavrin_ovra", "frame", "--dataset", bad, "--spec", spec],
        capture_output=True, text=True, env=env, timeout=60)
    assert done.returncode == 1
    assert done.stderr == (f"python -m tavrin_ovra: error: {bad}: parse: invalid type: "
                           "integer `1`, expected struct Candle\n")


class FakeTerminal:
    def __init__(self, tty):
        self.tty, self.text = tty, ""

    def isatty(self):
        return self.tty

    def write(self, text):
        self.text += text

    def flush(self):
        pass


@pytest.mark.parametrize("tty", [True, False], ids=["terminal", "redirected"])
def test_progress_only_on_a_terminal(tty):
    stream = FakeTerminal(tty)
    progress = cli._Progress(stream)
    progress.fraction("generating")(0.5)
    progress.show("loading")
    progress.clear()
    if tty:
        assert stream.text.startswith("\rgenerating  50.0%")
        assert stream.text.endswith("\r")
    else:
        assert stream.text == ""


def test_unexpected_fault_is_one_line(capsys, files, monkeypatch):
    _folder, data, spec = files
    monkeypatch.delenv("TAVRIN_OVRA_TRACEBACK", raising=False)
    monkeypatch.setattr(cli, "_frame", lambda handle, at: 1 / 0)
    status, _out, err = run(capsys, "frame", "--dataset", data, "--spec", spec)
    assert status == 1
    assert err.startswith(f"{PROG}: error: unexpected ZeroDivisionError: division by zero")
    assert err.count("\n") == 1
