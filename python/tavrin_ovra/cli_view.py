"""The ``view`` command: serve one dataset to the browser page of ``tavrin_ovra.viewer``.

    tavrin-ovra view --dataset FILE --spec FILE [--host H] [--port N] [--open]
    tavrin-ovra view --sample [--minutes N] [--seed S] [--port N] [--open]
"""

from __future__ import annotations

import argparse
import sys
import threading
import webbrowser
from typing import Any

from . import sample as _sample
from .cli import CliError, _load, _Progress, _read_text, _set_spec

__all__ = ["add_parser"]

DEFAULT_PORT = 8765


def add_parser(commands: Any) -> None:
    """Adds ``view`` to the subcommands of the command line."""
    view = commands.add_parser(
        "view", help="scrub through the data in a browser",
        description="Load a dataset and a spec (or generate the sample) and serve a page "
                    "that draws the four panels at a cursor you drag. The server listens "
                    "on 127.0.0.1 unless --host says otherwise; stop it with Ctrl-C.")
    source = view.add_mutually_exclusive_group(required=True)
    source.add_argument("--dataset", metavar="FILE", help="dataset JSON (needs --spec)")
    source.add_argument("--sample", action="store_true", help="generate the sample data")
    view.add_argument("--spec", metavar="FILE", help="spec JSON (default with --sample: "
                      "the sample's spec with all four panels)")
    view.add_argument("--minutes", type=float, default=60.0,
                      help="length of the sample (default 60)")
    view.add_argument("--seed", type=int, default=_sample.DEFAULT_SEED, help="seed of the sample")
    view.add_argument("--host", default="127.0.0.1", help="address to bind (default 127.0.0.1)")
    view.add_argument("--port", type=int, default=DEFAULT_PORT,
                      help=f"port (default {DEFAULT_PORT}; 0 picks a free one)")
    view.add_argument("--open", action="store_true", help="open the page in a web browser")
    view.add_argument("--log", action="store_true", help="print a line per request on stderr")
    view.set_defaults(run=_run_view)


def _run_view(args: argparse.Namespace) -> int:
    from .viewer import HandleThread, Session, start_server

    if args.dataset and not args.spec:
        raise CliError("--dataset needs --spec")
    if not 0 < args.minutes <= 10_080:
        raise CliError("--minutes must lie between 0 and 10080 (a week)")
    progress = _Progress()
    if args.sample:
        progress.show(f"generating {args.minutes:g} minutes of sample data")
        dataset, origin = _sample.sample_dataset(args.minutes, args.seed), "the sample"
        progress.clear()
    else:
        dataset, origin = _read_text(args.dataset, progress), args.dataset
    spec = _read_text(args.spec, progress) if args.spec else _sample.sample_spec()
    worker = HandleThread("")
    worker.call(lambda handle: _set_spec(handle, spec, args.spec or "the sample spec"))
    loaded = worker.call(lambda handle: _load(handle, dataset, origin, progress))
    del dataset
    session = Session(worker, spec)
    log = (lambda line: print(line, file=sys.stderr)) if args.log else None
    try:
        server = start_server(session, args.host, args.port, log)
    except OSError as failure:
        raise CliError(f"cannot listen on {args.host}:{args.port}: "
                       f"{failure.strerror or failure}") from None
    print(f"serving {origin} ({loaded:,} records) at {server.url}  (Ctrl-C stops)", flush=True)
    if args.open:
        webbrowser.open(server.url)
    try:
        threading.Event().wait()  # the server answers on its own threads until Ctrl-C
    except KeyboardInterrupt:
        print("stopped", file=sys.stderr)
    finally:
        server.shutdown()
        server.server_close()
        worker.close(5.0)
    return 0

