"""The viewer page in a real browser: headless Chromium driven over its DevTools pipe.

The page is opened at a cursor given in the URL; the test waits for the first frame to be
drawn, checks that every canvas holds a picture, moves the cursor by script and checks that
the pictures change. Skipped where no Chromium is installed (.ci/run installs Debian's).
Set OVRA_SCREENSHOT_DIR to keep the screenshots.
"""

import base64
import json
import os
import select
import shutil
import subprocess
import time

import pytest

from tavrin_ovra import sample
from tavrin_ovra.viewer import open_session, start_server

BROWSER = next((shutil.which(n) for n in ("chromium", "chromium-browser", "google-chrome")
                if shutil.which(n)), None)
pytestmark = pytest.mark.skipif(BROWSER is None, reason="no Chromium found (apt-get install chromium)")

# A hash and a count of pixels that differ from the panel background, per canvas.
CANVASES = """(() => [...document.querySelectorAll('canvas')].map((c) => {
  const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
  let lit = 0, hash = 0;
  for (let i = 0; i < d.length; i += 4) {
    if (d[i + 3] > 0) lit++;
    hash = (hash * 31 + d[i] + 7 * d[i + 1] + 13 * d[i + 2] + d[i + 3]) | 0;
  }
  return {lit, hash, size: c.width * c.height};
}))()"""


def browser_environment():
    """The test's environment without the sanitizer runtime a hardened run preloads: the
    browser is not ours to instrument, and a preloaded runtime stalls or kills it."""
    dropped = ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS", "PYTHONMALLOC")
    return {k: v for k, v in os.environ.items() if k not in dropped}


class DevTools:
    """Chromium's DevTools protocol over --remote-debugging-pipe (fd 3 in, fd 4 out)."""

    def __init__(self, profile):
        to_browser, self._in = os.pipe()
        self._out, from_browser = os.pipe()

        def wire():
            os.dup2(to_browser, 3)
            os.dup2(from_browser, 4)

        self.process = subprocess.Popen(
            [BROWSER, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
             "--remote-debugging-pipe", f"--user-data-dir={profile}", "--window-size=1400,1050",
             "--no-first-run", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=wire, close_fds=False,
            env=browser_environment())
        os.close(to_browser)
        os.close(from_browser)
        self._buffer = b""
        self._id = 0
        self.session = None

    def send(self, method, timeout=30, **params):
        self._id += 1
        message = {"id": self._id, "method": method, "params": params}
        if self.session and not method.startswith("Target."):
            message["sessionId"] = self.session
        os.write(self._in, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while True:
            while b"\0" not in self._buffer:
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([self._out], [], [], left)[0]:
                    raise TimeoutError(f"no answer to {method}")
                chunk = os.read(self._out, 1 << 20)
                if not chunk:
                    raise RuntimeError("the browser went away")
                self._buffer += chunk
            raw, self._buffer = self._buffer.split(b"\0", 1)
            answer = json.loads(raw)
            if answer.get("id") == self._id:
                if "error" in answer:
                    raise RuntimeError(f"{method}: {answer['error']}")
                return answer["result"]

    def open(self, url):
        target = self.send("Target.createTarget", url=url)["targetId"]
        self.session = self.send("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]

    def evaluate(self, expression):
        result = self.send("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError(result["exceptionDetails"])
        return result["result"].get("value")

    def wait_for(self, expression, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                value = self.evaluate(expression)
            except RuntimeError:
                value = None  # the page is still loading (no body yet)
            if value:
                return value
            time.sleep(0.1)
        raise TimeoutError(f"waited {timeout} s for {expression}")

    def screenshot(self, path):
        data = self.send("Page.captureScreenshot", format="png")["data"]
        with open(path, "wb") as out:
            out.write(base64.b64decode(data))

    def close(self):
        self.process.kill()
        self.process.wait(10)
        os.close(self._in)
        os.close(self._out)


@pytest.fixture
def viewer():
    server = start_server(open_session(sample.sample_dataset(minutes=6), sample.sample_spec()))
    yield server
    server.shutdown()
    server.server_close()
    server.session.worker.close(5)


def test_the_page_draws_frames_and_follows_the_cursor(viewer, tmp_path):
    shots = os.environ.get("OVRA_SCREENSHOT_DIR") or str(tmp_path)
    first = sample.DEFAULT_START_TS + 180_000
    browser = DevTools(tmp_path / "profile")
    try:
        browser.open(f"{viewer.url}?ts={first}")
        browser.wait_for("document.body.dataset.frames >= 1")
        assert browser.evaluate("Number(document.body.dataset.cursor)") == first
        browser.wait_for("document.getElementById('readouts').textContent.includes('POC')")
        before = browser.evaluate(CANVASES)
        assert len(before) == 4
        for canvas in before:  # every panel drew something on a good part of its canvas
            assert canvas["lit"] > canvas["size"] // 50, before
        browser.screenshot(os.path.join(shots, "viewer-first.png"))

        moved = sample.DEFAULT_START_TS + 330_000
        browser.evaluate(f"window.ovraViewer.setCursor({moved})")
        browser.wait_for(f"Number(document.body.dataset.cursor) === {moved}")
        browser.wait_for("document.getElementById('readouts').textContent.includes('POC')")
        after = browser.evaluate(CANVASES)
        assert all(a["hash"] != b["hash"] for a, b in zip(before, after)), (before, after)
        assert float(browser.evaluate("document.body.dataset.frameMs")) >= 0
        assert "2024-03-01 00:05:30.000 UTC" in browser.evaluate(
            "document.getElementById('cursor').textContent")
        browser.screenshot(os.path.join(shots, "viewer-moved.png"))
    finally:
        browser.close()
