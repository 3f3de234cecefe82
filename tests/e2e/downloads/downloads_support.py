"""What the download scenarios share: a local file server, run directories with old files and a
hand-off manifest of real entries, the updater started and driven through ui-probe, and a watch over
the grid until a notice appears."""

import http.server
import os
import shutil
import sys
import tempfile
import threading
import time
from urllib.parse import quote

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "servers"))
sys.path.insert(0, os.path.join(HERE, "..", "harness"))

import file_server  # noqa: E402
import velmora_e2e as e2e  # noqa: E402


class Snapshot:
    """The grid as one poll saw it: seconds since the start button, and the rows' cells."""

    def __init__(self, seconds, rows):
        self.seconds = seconds
        self.rows = rows

    def statuses(self):
        return [row[e2e.COLUMN_STATUS] for row in self.rows]

    def downloading(self):
        return sum(1 for status in self.statuses() if status == e2e.STATUS_DOWNLOADING)

    def downloading_rows(self):
        return {number for number, status in enumerate(self.statuses()) if status == e2e.STATUS_DOWNLOADING}


def most_downloading_at_once(snapshots):
    """The most rows downloading at once, counting a row only when two readings in a row show it
    downloading. One reading asks the window for its cells one at a time, so it can span the moment a
    row ends and the next one starts (which now follow each other within milliseconds) and show both
    with the ending one; a third download that really ran would be in two readings."""
    most = 0
    for earlier, later in zip(snapshots, snapshots[1:]):
        most = max(most, len(earlier.downloading_rows() & later.downloading_rows()))
    return most


class DownloadsTestCase(e2e.WineTestCase):
    """A Wine test case with a file server on 127.0.0.1 and helpers for one updater run."""

    def setUp(self):
        super().setUp()
        if not os.path.exists(e2e.STAND_IN):
            self.skipTest(f"the stand-in product is missing ({e2e.STAND_IN})")
        self.server = file_server.FileServer()
        self.addCleanup(self.server.stop)
        self.updater = None
        self.updater_pid = None

    # --- the run directory -----------------------------------------------------------------------

    def entry(self, run_dir, path, new, old=None, route=None, md5=None, **serve_options):
        """A manifest entry for `path` ("\\Bin\\x.dll"), whose new bytes `new` the server gives at
        `route` (the file's path on the server; by default "/files/" and the path in "/" form), which
        the url names percent-encoded as UTF-8; `old` (bytes) is written to the run directory first.
        `md5` overrides the manifest's digest (by default the new bytes')."""
        relative = path.lstrip("\\").replace("\\", "/")
        if route is None:
            route = "/files/" + relative
        if new is not None:
            self.server.serve(route, new, **serve_options)
        if old is not None:
            run_dir.write(relative, old)
        return {"path": path, "url": self.server.url(quote(route)), "md5": md5 or e2e.md5_hex(new), "route": route,
                "local": os.path.join(run_dir.path, *relative.split("/")), "new": new, "old": old}

    def other_folder(self):
        """A folder of the test's own outside the run directory (removed when the test ends)."""
        folder = tempfile.mkdtemp(prefix="velmora-other-", dir=os.path.dirname(e2e.WINDOWS_BUILD_DIR))
        self.addCleanup(shutil.rmtree, folder, True)
        return folder

    def start_stand_in(self, exe_path, *arguments):
        """Starts the stand-in at `exe_path` and waits for its start record; returns (Popen, record)."""
        before = len(e2e.stand_in_starts(exe_path))
        process = self.wine.start(exe_path, *arguments)
        try:
            starts = self.wine.wait_for(lambda: e2e.stand_in_starts(exe_path)[before:], timeout=30,
                                        message=f"the start record of {exe_path}")
        except AssertionError as error:
            raise AssertionError(f"{error} (exit code {process.poll()}; Wine said: "
                                 f"{self.wine.errors_of(process)!r})") from None
        return process, starts[0]

    def content(self, path):
        with open(path, "rb") as source:
            return source.read()

    def assert_untouched(self, entries):
        for entry in entries:
            self.assertEqual(self.content(entry["local"]), entry["old"], entry["path"])

    def assert_no_leftovers(self, run_dir):
        self.assertEqual(e2e.staging_leftovers(run_dir.path), [])

    # --- the updater ----------------------------------------------------------------------------

    def start_updater(self, run_dir, entries, run="Velmora.exe", listed=None, members=None):
        """Writes the hand-off manifest, starts the updater and waits until its grid lists every
        entry (or the entries `listed`: those still to be downloaded) and the start button is
        enabled. Returns the window's description."""
        listed = entries if listed is None else listed
        e2e.write_hand_off_entries(run_dir, entries, run=run, members=members)
        # Every program of the Wine prefix is visible to the probe: the window is the one that
        # was not there before the start.
        before = {w["pid"] for w in self.look("windows")["windows"]}
        if before:
            print(f"\nnote: windows titled {e2e.WINDOW_TITLE!r} of other processes are open: {sorted(before)}")
        self.updater = self.wine.start(run_dir.program, "--from-product")

        def new_window():
            if self.updater.poll() is not None:
                self.fail(f"the updater ended at once (exit code {self.updater.returncode}); is another copy "
                          f"running in the Wine prefix?")
            try:
                # A probe that lists windows while the updater's window is being created can block
                # for good under Wine: it is ended and asked again.
                listed = self.wine.probe("windows", timeout=10, attempts=1)["windows"]
            except e2e.ProbeError:
                return None
            windows = [w for w in listed if w["pid"] not in before]
            return windows[0] if windows else None

        window = self.wine.wait_for(new_window, timeout=60, interval=0.3, message="the updater's window")
        self.updater_pid = str(window["pid"])

        def ready():
            button = self.look("button", "--pid", self.updater_pid)
            if not button.get("found") or not button["button"]["enabled"]:
                return None
            grid = self.probe_grid()
            return grid if grid["rowCount"] == len(listed) else None

        grid = self.wine.wait_for(ready, timeout=30, interval=0.2, message="the listed files and the start button")
        self.assertEqual([row[e2e.COLUMN_PATH] for row in grid["rows"]], [entry["path"] for entry in listed])
        self.assertEqual({row[e2e.COLUMN_STATUS] for row in grid["rows"]}, {e2e.STATUS_READY})
        return window

    def look(self, *arguments, tries=3):
        """A probe that only reads (never one that acts): a probe that blocks is ended and asked
        again, since one that looks at a window while it is being created can block under Wine."""
        for attempt in range(tries):
            try:
                return self.wine.probe(*arguments, check=False, timeout=15, attempts=1)
            except e2e.ProbeError:
                if attempt + 1 == tries:
                    raise

    def probe_grid(self):
        answer = self.look("grid", "--pid", self.updater_pid)
        if not answer.get("found"):
            raise e2e.ProbeError(f"the updater's grid is gone: {answer}")
        return answer["grid"]

    def press_start(self):
        """Clicks the start button; returns the monotonic time of the click."""
        self.wine.probe("click-button", "--pid", self.updater_pid)
        return time.monotonic()

    def notice(self):
        """The updater's task dialog (a dict), or None when none is open."""
        answer = self.look("notice", "--pid", self.updater_pid)
        return answer["notice"] if answer.get("found") else None

    def watch(self, started, timeout=120, on_snapshot=None):
        """Reads the grid again and again until a notice opens; returns (notice, snapshots).

        `on_snapshot(snapshot)` is called for each reading (for screenshots while downloads run)."""
        snapshots = []
        deadline = started + timeout
        while True:
            notice = self.notice()
            if notice:
                snapshots.append(Snapshot(time.monotonic() - started, self.probe_grid()["rows"]))
                return notice, snapshots
            answer = self.look("grid", "--pid", self.updater_pid)
            if answer.get("found"):
                snapshot = Snapshot(time.monotonic() - started, answer["grid"]["rows"])
                snapshots.append(snapshot)
                if on_snapshot:
                    on_snapshot(snapshot)
            if self.updater.poll() is not None:
                self.fail(f"the updater ended (exit code {self.updater.returncode}) without a notice; "
                          f"last grid: {snapshots[-1].rows if snapshots else None}")
            if time.monotonic() >= deadline:
                self.fail(f"no notice within {timeout} s; last grid: {snapshots[-1].rows if snapshots else None}")

    def caption(self):
        return self.look("button", "--pid", self.updater_pid)["button"]["caption"]

    def press_notice(self, button_id):
        self.wine.probe("notice-press", str(button_id), "--pid", self.updater_pid)


class LateAnswerServer:
    """A plain-HTTP server on 127.0.0.1 that answers every GET with `body` (200, with its length)
    only `delay` seconds after the request came: for ordering what two downloads do."""

    def __init__(self, body, delay):
        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, format, *args):
                pass

            def do_GET(self):
                time.sleep(delay)
                self.send_response(200)
                self.send_header("Content-Type", "application/octet-stream")
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Connection", "close")
                self.end_headers()
                try:
                    self.wfile.write(body)
                except OSError:
                    pass
                self.close_connection = True

        self._server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self._server.daemon_threads = True
        self._thread = threading.Thread(target=self._server.serve_forever, kwargs={"poll_interval": 0.1},
                                        daemon=True)
        self._thread.start()

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self._server.server_address[1], path)

    def stop(self):
        self._server.shutdown()
        self._server.server_close()
        self._thread.join(timeout=10)
