"""The command line: ``tavrin-ovra`` or ``python -m tavrin_ovra``.

    demo     generate an hour of sample data, load it, compute a frame of all four panels,
             print a short summary with timings and write demo.png (with matplotlib)
    frame    print the frame JSON of a dataset file and a spec file
    render   draw that frame into a PNG (with matplotlib)
    sample   write sample data (and, on request, a spec that fits it)
    view     serve a page that scrubs through the data in a browser (cli_view.py)
    convert  turn Tardis or Binance data files into a dataset (cli_convert.py)

Every failure, from a missing file to an error response of the module, ends in one line on
stderr and exit status 1; usage errors exit with 2. Progress lines appear only when stderr
is a terminal.
"""

from __future__ import annotations

import argparse
import json
import os
import re
import sys
import time
from datetime import datetime, timezone
from typing import Any, Callable, Dict, List, Optional, Sequence, TextIO, Tuple

from . import Ovra, __version__
from . import sample as _sample

__all__ = ["main"]

PROG = "tavrin-ovra"
UTC = timezone.utc
_CHUNK = 4 << 20
_SERIES = (("trades", "trade"), ("book", "book event"), ("candles", "candle"),
           ("funding", "funding sample"), ("oi", "open-interest sample"),
           ("liquidations", "liquidation"))
_POSITION = re.compile(r" at line (\d+) column (\d+)$")


class CliError(Exception):
    """A failure worth one line on stderr and exit status 1."""


def main(argv: Optional[Sequence[str]] = None, prog: str = PROG) -> int:
    """Run the command line; returns the exit status."""
    parser = _parser(prog)
    args = parser.parse_args(argv)
    if not getattr(args, "run", None):
        parser.print_help(sys.stderr)
        return 2
    try:
        return int(args.run(args) or 0)
    except CliError as failure:
        _fail(prog, str(failure))
    except BrokenPipeError:
        # the reader of our output went away (as with `| head`): nothing to report, but
        # the interpreter must not try to flush into the closed pipe again at exit
        _silence_stdout()
    except OSError as failure:
        _fail(prog, _os_error(failure))
    except MemoryError:
        _fail(prog, "out of memory")
    except KeyboardInterrupt:
        _fail(prog, "interrupted")
        return 130
    except Exception as failure:  # a fault of ours: still one line, unless asked for more
        if os.environ.get("TAVRIN_OVRA_TRACEBACK"):
            raise
        _fail(prog, f"unexpected {type(failure).__name__}: {failure} "
                    "(set TAVRIN_OVRA_TRACEBACK=1 to see where)")
    return 1


def _fail(prog: str, message: str) -> None:
    # one line, whatever the message holds
    line = message.replace("\r", "\\r").replace("\n", "\\n")
    try:
        sys.stderr.write(f"{prog}: error: {line}\n")
        sys.stderr.flush()
    except OSError:
        pass


def _silence_stdout() -> None:
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
    except (OSError, ValueError, AttributeError):
        pass


def _os_error(failure: OSError) -> str:
    where = f"{failure.filename}: " if failure.filename else ""
    return f"{where}{failure.strerror or failure}"


# -- arguments ------------------------------------------------------------------------------

def _parser(prog: str) -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=prog,
        description="Chart-panel data (footprint, book heatmap, liquidations, funding and "
                    "open interest) from recorded market data.",
        epilog=f"Start with: {prog} demo",
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(title="commands", metavar="COMMAND")

    demo = commands.add_parser(
        "demo", help="sample data in, summary and demo.png out",
        description="Generate sample data, load it, compute a frame of all four panels, "
                    "print a summary with timings and draw the frame.")
    demo.add_argument("--minutes", type=_positive_float, default=60.0,
                      help="length of the sample (default 60)")
    demo.add_argument("--seed", type=int, default=_sample.DEFAULT_SEED,
                      help=f"seed of the sample (default {_sample.DEFAULT_SEED})")
    demo.add_argument("-o", "--output", default="demo.png",
                      help="picture to write when matplotlib is installed (default demo.png)")
    demo.add_argument("--no-plot", action="store_true", help="do not draw the picture")
    demo.set_defaults(run=_run_demo)

    for name, text in (("frame", "print the frame JSON"), ("render", "draw the frame as PNG")):
        sub = commands.add_parser(name, help=text, description=f"Load a dataset file, set a "
                                  f"spec file and {text}.")
        sub.add_argument("--dataset", required=True, metavar="FILE",
                         help="dataset JSON (the value of the \"dataset\" member of \"load\")")
        sub.add_argument("--spec", required=True, metavar="FILE", help="spec JSON")
        sub.add_argument("--at", type=_timestamp, metavar="TS",
                         help="cursor: milliseconds since 1970 or an ISO time such as "
                              "2024-03-01T00:30:00Z (default: the spec's to_ts, else the "
                              "end of the data)")
        if name == "render":
            sub.add_argument("-o", "--output", required=True, metavar="OUT.png",
                             help="picture to write")
            sub.set_defaults(run=_run_render)
        else:
            sub.set_defaults(run=_run_frame)

    make = commands.add_parser(
        "sample", help="write sample data",
        description="Write synthetic data for one perpetual future as dataset JSON.")
    make.add_argument("-o", "--output", required=True, metavar="FILE", help="dataset file")
    make.add_argument("--minutes", type=_positive_float, default=60.0,
                      help="length (default 60)")
    make.add_argument("--seed", type=int, default=_sample.DEFAULT_SEED,
                      help=f"seed (default {_sample.DEFAULT_SEED})")
    make.add_argument("--depth", type=int, default=None,
                      help="order-book levels per side (default 300; dense: about 4,600)")
    make.add_argument("--preset", choices=_sample.PRESETS, default="default",
                      help="default: light synthetic data; dense: the density of a real "
                           "full-depth feed, about 740 level changes a second (needs NumPy)")
    make.add_argument("--spec", metavar="FILE",
                      help="also write a spec with all four panels that fits the sample")
    make.set_defaults(run=_run_sample)

    from .cli_view import add_parser as add_view
    add_view(commands)
    from .cli_convert import add_convert
    add_convert(commands)
    return parser


def _positive_float(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        value = float("nan")
    if not 0 < value < 1e7:
        raise argparse.ArgumentTypeError(f"expected a positive number, got {text!r}")
    return value


def _timestamp(text: str) -> int:
    """Milliseconds since 1970, or an ISO time (UTC unless it names an offset)."""
    try:
        return int(text)
    except ValueError:
        pass
    try:
        when = datetime.fromisoformat(text.strip().replace("Z", "+00:00"))
    except ValueError:
        raise argparse.ArgumentTypeError(
            f"expected milliseconds since 1970 or an ISO time such as 2024-03-01T00:30:00Z, "
            f"got {text!r}") from None
    if when.tzinfo is None:
        when = when.replace(tzinfo=UTC)
    delta = when - datetime(1970, 1, 1, tzinfo=UTC)
    return (delta.days * 86_400 + delta.seconds) * 1000 + delta.microseconds // 1000


# -- progress on a terminal -----------------------------------------------------------------

class _Progress:
    """A status line on stderr, redrawn in place; silent unless stderr is a terminal."""

    def __init__(self, stream: Optional[TextIO] = None) -> None:
        self.stream = stream or sys.stderr
        try:
            self.live = self.stream.isatty()
        except (AttributeError, ValueError):
            self.live = False
        self.shown = 0

    def show(self, text: str) -> None:
        if self.live:
            self.stream.write("\r" + text.ljust(self.shown))
            self.stream.flush()
            self.shown = len(text)

    def fraction(self, label: str) -> Callable[[float], None]:
        return lambda done: self.show(f"{label} {100.0 * done:5.1f}%")

    def clear(self) -> None:
        if self.live and self.shown:
            self.stream.write("\r" + " " * self.shown + "\r")
            self.stream.flush()
            self.shown = 0


# -- talking to the module ------------------------------------------------------------------

def _read_text(path: str, progress: _Progress) -> str:
    size = os.path.getsize(path)
    chunks: List[bytes] = []
    done = 0
    with open(path, "rb") as source:
        while True:
            chunk = source.read(_CHUNK)
            if not chunk:
                break
            chunks.append(chunk)
            done += len(chunk)
            if size > _CHUNK:
                progress.show(f"reading {path} {_megabytes(done)} of {_megabytes(size)}")
    progress.clear()
    try:
        return b"".join(chunks).decode("utf-8")
    except UnicodeDecodeError as bad:
        raise CliError(f"{path}: not UTF-8 text (byte {bad.start})") from None


def _error_of(response: str) -> Optional[str]:
    """The error text of an error envelope, None for any other response."""
    if response.startswith('{"ok":false'):
        return str(json.loads(response)["error"])
    return None


def _send_file(handle: Ovra, command: str, member: str, text: str, origin: str) -> str:
    """Sends ``command`` with the file's text as ``member``; an error response becomes a
    CliError naming the file and the place in it."""
    response = handle.command('{"cmd":"%s","%s":\n' % (command, member) + text + "\n}")
    error = _error_of(response)
    if error is not None:
        raise CliError(f"{origin}: {_file_position(error, text)}")
    return response


def _load(handle: Ovra, text: str, origin: str, progress: _Progress) -> int:
    if not text.strip():
        raise CliError(f"{origin}: the dataset is empty")
    progress.show(f"loading {origin} ({_megabytes(len(text))})")
    try:
        response = _send_file(handle, "load", "dataset", text, origin)
    finally:
        progress.clear()
    loaded = int(json.loads(response)["loaded"])
    if loaded == 0:
        raise CliError(f"{origin}: the dataset holds no records")
    return loaded


def _file_position(error: str, text: str) -> str:
    """File contents go into a command after a line break, so that they start at line 2,
    column 1: the parser's positions map back onto the file by taking one off the line."""
    found = _POSITION.search(error)
    if not found:
        return error
    line = int(found.group(1)) - 1
    lines = text.count("\n") + 1
    where = (f" at line {line} column {found.group(2)}" if 1 <= line <= lines
             else " at the end of the file")
    return error[: found.start()] + where


def _set_spec(handle: Ovra, text: str, origin: str) -> None:
    if not text.strip():
        raise CliError(f"{origin}: the spec is empty")
    _send_file(handle, "set_spec", "spec", text, origin)


def _frame(handle: Ovra, at: Optional[int]) -> str:
    command = {"cmd": "frame"} if at is None else {"cmd": "frame_at", "ts": at}
    response = handle.command(json.dumps(command))
    error = _error_of(response)
    if error is not None:
        raise CliError(error)
    return response


def _frame_from_files(args: argparse.Namespace) -> str:
    progress = _Progress()
    handle = Ovra("")
    _set_spec(handle, _read_text(args.spec, progress), args.spec)
    _load(handle, _read_text(args.dataset, progress), args.dataset, progress)
    progress.show("computing the frame")
    try:
        return _frame(handle, args.at)
    finally:
        progress.clear()


def _plotting() -> Any:
    try:
        from . import plot
    except ImportError:
        return None
    return plot


# -- commands -------------------------------------------------------------------------------

def _run_frame(args: argparse.Namespace) -> int:
    text = _frame_from_files(args)
    sys.stdout.write(text + "\n")
    sys.stdout.flush()
    return 0


def _run_render(args: argparse.Namespace) -> int:
    plot = _plotting()
    if plot is None:
        raise CliError('render needs matplotlib: pip install "tavrin_ovra[plot]"')
    text = _frame_from_files(args)
    progress = _Progress()
    progress.show(f"drawing {args.output}")
    try:
        plot.render_frame(text, args.output)
    finally:
        progress.clear()
    print(f"wrote {args.output}")
    return 0


def _run_sample(args: argparse.Namespace) -> int:
    if args.depth is not None and args.depth < 1:
        raise CliError("--depth must be at least 1")
    progress = _Progress()
    size = _sample.write_sample(args.output, args.minutes, args.seed, args.depth,
                                progress=progress.fraction("generating"), preset=args.preset)
    progress.clear()
    symbol = json.loads(_sample.sample_spec(preset=args.preset))["symbol"]
    print(f"wrote {args.output}: {_megabytes(size)}, {_count(args.minutes, 'minute')} of "
          f"{symbol} from {_clock(_sample.DEFAULT_START_TS)} (seed {args.seed})")
    if args.spec:
        with open(args.spec, "w", encoding="utf-8") as out:
            out.write(_sample.sample_spec(preset=args.preset) + "\n")
        print(f"wrote {args.spec}: a spec with all four panels")
        print(f"next: {PROG} frame --dataset {args.output} --spec {args.spec}")
    return 0


def _run_demo(args: argparse.Namespace) -> int:
    progress = _Progress()
    steps: List[Tuple[str, float, str]] = []
    print(f"tavrin_ovra {__version__} demo: {_count(args.minutes, 'minute')} of synthetic "
          f"{_sample.SYMBOL} (seed {args.seed})\n")

    began = time.perf_counter()
    records = _sample.generate_sample(args.minutes, args.seed,
                                      progress=progress.fraction("generating sample data"))
    progress.show("writing the dataset JSON")
    text = json.dumps(records, separators=(",", ":"))
    progress.clear()
    counts = ", ".join(_count(len(records[name]), label) for name, label in _SERIES)
    steps.append(("generate sample", time.perf_counter() - began,
                  f"{_megabytes(len(text))} of JSON: {counts}"))
    del records

    handle = Ovra("")
    _set_spec(handle, _sample.sample_spec(), "the sample spec")
    began = time.perf_counter()
    loaded = _load(handle, text, "the sample", progress)
    bounds = json.loads(handle.command('{"cmd":"bounds"}'))
    steps.append(("load", time.perf_counter() - began,
                  f"{_count(loaded, 'record')}, {_clock(bounds['from_ts'])} to "
                  f"{_clock(bounds['to_ts'])}"))
    del text

    began = time.perf_counter()
    progress.show("computing the frame")
    frame_text = _frame(handle, None)
    progress.clear()
    frame = json.loads(frame_text)
    steps.append(("frame", time.perf_counter() - began,
                  f"{len(frame['panels'])} panels, {len(frame_text) / 1000:,.1f} kB of JSON"))

    picture = ""
    if not args.no_plot:
        plot = _plotting()
        if plot is None:
            picture = 'no picture: pip install "tavrin_ovra[plot]" to draw demo.png'
        else:
            began = time.perf_counter()
            progress.show(f"drawing {args.output}")
            plot.render_frame(frame, args.output)
            progress.clear()
            steps.append((f"render {os.path.basename(args.output)}",
                          time.perf_counter() - began, f"wrote {args.output}"))

    for name, seconds, note in steps:
        print(f"  {name:<18} {seconds:7.3f} s   {note}")
    print()
    print(f"{frame['symbol']} frame at {_clock(frame['cursor_ts'])}")
    for panel in frame["panels"]:
        title, text_ = _describe(panel)
        print(f"  {title:<18} {text_}")
    if picture:
        print(f"\n{picture}")
    return 0


# -- the summary ----------------------------------------------------------------------------

def _describe(panel: Dict[str, Any]) -> Tuple[str, str]:
    kind = panel.get("kind")
    try:
        if kind == "footprint":
            return "footprint", _describe_footprint(panel)
        if kind == "book_heatmap":
            return "book heatmap", _describe_heatmap(panel)
        if kind == "liquidation_map":
            return "liquidation map", _describe_liquidations(panel)
        if kind == "funding_oi_divergence":
            return "funding / OI", _describe_funding(panel)
    except (TypeError, ValueError, KeyError, IndexError):
        return str(kind), "(could not be summarised)"
    return str(kind), "(unknown panel kind)"


def _num(value: Any) -> float:
    return float(value) if isinstance(value, (int, float)) else float("nan")


def _describe_footprint(panel: Dict[str, Any]) -> str:
    bins = [_num(v) for v in panel["price_bins"]]
    if not bins:
        return "no trades in the window"
    buys = [_num(v) for v in panel["buy_vol"]]
    sells = [_num(v) for v in panel["sell_vol"]]
    top = max(range(len(bins)), key=lambda i: buys[i] + sells[i])
    width = _gap(bins)
    return (f"{_count(len(bins), 'price bin')}{width} from {bins[0]:,.8g} to {bins[-1]:,.8g}; "
            f"bought {sum(buys):,.2f}, sold {sum(sells):,.2f}; most traded {bins[top]:,.8g}")


def _describe_heatmap(panel: Dict[str, Any]) -> str:
    times, prices, rows = panel["time"], panel["price"], panel["intensity"]
    if not times:
        return "no order book in the window"
    best, at_t, at_p = -1.0, 0, 0
    for t, row in enumerate(rows):
        for p, cell in enumerate(row):
            if isinstance(cell, (int, float)) and cell > best:
                best, at_t, at_p = cell, t, p
    return (f"{_count(len(times), 'time bucket')} x {_count(len(prices), 'level')}{_gap(prices)} "
            f"({_num(prices[0]):,.8g} to {_num(prices[-1]):,.8g}); deepest cell "
            f"{best:,.2f} at {_num(prices[at_p]):,.8g}, {_clock(times[at_t], short=True)}")


def _describe_liquidations(panel: Dict[str, Any]) -> str:
    events = panel["events"]
    if not events:
        return "no liquidations in the window"
    parts = []
    for side in ("long", "short"):
        chosen = [_num(e["qty"]) for e in events if e["side"] == side]
        parts.append(f"{_count(len(chosen), side)} ({sum(chosen):,.2f})")
    big = max(events, key=lambda e: _num(e["qty"]))
    return (f"{_count(len(events), 'liquidation')}: {', '.join(parts)}; "
            f"largest {_num(big['qty']):,.3f} at {_num(big['price_bin']):,.8g}, {_clock(big['ts'], short=True)}")


def _describe_funding(panel: Dict[str, Any]) -> str:
    times = panel["time"]
    if not times:
        return "no funding, open interest or candles in the window"
    price, oi, funding = panel["price"], panel["oi"], panel["funding"]
    width = f" of {_duration(times[1] - times[0])}" if len(times) > 1 else ""
    return (f"{_count(len(times), 'bucket')}{width}; price {_num(price[0]):,.8g} -> "
            f"{_num(price[-1]):,.8g}, open interest {_num(oi[0]):,.0f} -> "
            f"{_num(oi[-1]):,.0f}, funding {100 * _num(funding[0]):.4f}% -> "
            f"{100 * _num(funding[-1]):.4f}%")


def _gap(values: List[Any]) -> str:
    if len(values) < 2:
        return ""
    gaps = [_num(b) - _num(a) for a, b in zip(values, values[1:])]
    positive = [g for g in gaps if g > 0]
    return f" of {min(positive):,.8g}" if positive else ""


def _duration(ms: int) -> str:
    if ms % 60_000 == 0:
        return f"{ms // 60_000} min"
    return f"{ms / 1000:g} s"


def _clock(ms: Any, short: bool = False) -> str:
    if not isinstance(ms, int):
        return str(ms)
    try:
        when = datetime.fromtimestamp(ms / 1000.0, UTC)
    except (OverflowError, OSError, ValueError):
        return f"{ms} ms"
    if short:
        return when.strftime("%H:%M:%S")
    return when.strftime("%Y-%m-%d %H:%M:%S UTC")


def _count(n: float, noun: str) -> str:
    return f"{n:,g} {noun}" if n == 1 else f"{n:,g} {noun}s"


def _megabytes(size: int) -> str:
    return f"{size / 1e6:,.1f} MB"
