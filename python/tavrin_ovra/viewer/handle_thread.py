"""One ``Ovra`` handle on a thread of its own.

A handle is bound to the thread that created it, and an HTTP server answers each request on
a thread of the moment, so the handle is created on a dedicated thread and every job that
touches it is queued to that thread. Jobs run one at a time, in the order they were queued;
the handle never leaves the thread.
"""

from __future__ import annotations

import queue
import threading
import time
import traceback
from concurrent.futures import Future
from typing import Callable, Optional, Tuple, TypeVar

from .. import Ovra

__all__ = ["HandleThread", "timed_command"]

T = TypeVar("T")
Job = Tuple[Callable[[Ovra], object], "Future[object]"]


class HandleThread:
    """Owns a handle built from ``spec_json`` on a dedicated thread."""

    def __init__(self, spec_json: str = "", name: str = "ovra-handle") -> None:
        self._jobs: "queue.Queue[Optional[Job]]" = queue.Queue()
        created: "Future[None]" = Future()
        self._thread = threading.Thread(target=self._serve, args=(spec_json, created),
                                        name=name, daemon=True)
        self._thread.start()
        created.result()  # the constructor's ValueError, if any, is raised here

    def call(self, job: Callable[[Ovra], T], timeout: Optional[float] = None) -> T:
        """Run ``job(handle)`` on the handle's thread and return its result (or raise its
        exception). ``timeout`` bounds the wait, queueing included: past it
        ``TimeoutError`` is raised and the job still runs when its turn comes."""
        done: "Future[object]" = Future()
        self._jobs.put((job, done))
        return done.result(timeout)  # type: ignore[return-value]

    def command(self, text: str, timeout: Optional[float] = None) -> Tuple[str, float]:
        """The response to one command text and the milliseconds the command took on the
        handle's thread (waiting in the queue not counted)."""
        return self.call(lambda handle: timed_command(handle, text), timeout)

    def close(self, timeout: Optional[float] = None) -> None:
        """Stop the thread after the jobs queued so far; the handle is released there."""
        self._jobs.put(None)
        self._thread.join(timeout)

    def _serve(self, spec_json: str, created: "Future[None]") -> None:
        try:
            handle = Ovra(spec_json)
        except BaseException as failure:  # handed to the creator, never lost on this thread
            created.set_exception(failure)
            return
        created.set_result(None)
        while True:
            item = self._jobs.get()
            if item is None:
                break
            job, done = item
            if not done.set_running_or_notify_cancel():
                continue
            try:
                done.set_result(job(handle))
            except BaseException as failure:
                # the job's frames hold the handle: their locals must not travel with the
                # exception to a thread where the handle would be released
                traceback.clear_frames(failure.__traceback__)
                done.set_exception(failure)
            del job, done, item
        del handle  # released on its own thread


def timed_command(handle: Ovra, text: str) -> Tuple[str, float]:
    """Run one command on ``handle`` (on its own thread); the response and its milliseconds."""
    began = time.perf_counter()
    response = handle.command(text)
    return response, (time.perf_counter() - began) * 1000.0
