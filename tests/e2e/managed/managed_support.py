"""What the managed-machine scenarios share: the whole-release helpers (a file server on 127.0.0.1,
run directories with old files, hand-off manifests of real entries, the stand-in product), and one
run of the updater as a scheduled task starts it: with its options, followed to its end within a
bound, its standard output in a file, every window and task dialog that appeared meanwhile (seen by
`ui-probe watch-windows`), and the lines it added to the log."""

import datetime
import json
import os
import shutil
import socket
import sys
import tempfile
import threading
import unittest
import zoneinfo

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "whole_release"))

from whole_release_support import WholeReleaseTestCase, e2e, file_server  # noqa: E402,F401
import run_log  # noqa: E402

sys.path.insert(0, os.path.join(HERE, "..", "release"))
from release_site import ReleaseSite  # noqa: E402

# The longest a quiet or --check run of these scenarios may take before it counts as one that
# does not end by itself: it is ended and the test fails. (Their files take seconds.)
RUN_BOUND = 120
# Slack for the log's clock against the test's: the log's times must fall within the run.
CLOCK_SLACK = datetime.timedelta(seconds=5)
# The time zone the Windows programs run in (Wine takes it from TZ): an offset west of UTC that is
# not whole hours, so that a line dated in UTC, or with its offset's sign or minutes lost, shows.
TIME_ZONE = "America/St_Johns"

USAGE_ERROR, DEFERRED, FAILED, ANOTHER_COPY, DISABLED = 2, 3, 4, 5, 6
# A quiet run that installed the release ends with 0 as one that found it current; its output says which.
UP_TO_DATE, UPDATED, UPDATE_WAITING = 0, 0, 10
UNREACHABLE, MALFORMED, BAD_SIGNATURE, OLDER, EXPIRED = 20, 21, 22, 23, 24


class Run:
    """One finished run: its exit code, standard output (bytes), the windows seen while it ran
    (probe descriptions), its log lines and every line the log gained meanwhile."""

    def __init__(self, arguments, code, output, windows, new_lines, earlier_runs):
        self.arguments = arguments
        self.code = code
        self.output = output
        self.windows = windows
        self.new_lines = new_lines
        self.earlier_runs = earlier_runs  # identifiers of the runs the log held before
        runs = run_log.runs_of(new_lines)
        self.lines = next(iter(runs.values())) if len(runs) == 1 else None
        self.runs = runs

    def describe(self):
        return (f"updater {' '.join(self.arguments)}: exit code {self.code}, output {self.output!r}, "
                f"log:\n{run_log.describe(self.new_lines)}")


class PendingRun:
    def __init__(self, arguments, process, watcher, stop_file, log_before):
        self.arguments = arguments
        self.process = process
        self.watcher = watcher
        self.stop_file = stop_file
        self.log_before = log_before  # the log's bytes when the run started
        self.earlier_runs = {line.run for line in run_log.parse(log_before)}
        self.started = datetime.datetime.now(datetime.timezone.utc)


class ConnectionCounter:
    """A listening socket on 127.0.0.1 that accepts, counts and closes every connection: a proxy
    for runs that must not make a single request."""

    def __init__(self):
        self._socket = socket.create_server(("127.0.0.1", 0))
        self._socket.settimeout(0.2)
        self.address = "http://127.0.0.1:%d" % self._socket.getsockname()[1]
        self.count = 0
        self._stopping = threading.Event()
        self._thread = threading.Thread(target=self._accept, daemon=True)
        self._thread.start()

    def _accept(self):
        while not self._stopping.is_set():
            try:
                connection, _ = self._socket.accept()
            except OSError:
                continue
            self.count += 1
            connection.close()

    def stop(self):
        self._stopping.set()
        self._thread.join(timeout=10)
        self._socket.close()


def write_hand_off(run_dir, entries, run="Velmora.exe", sizes=False, members=None):
    """The hand-off manifest (GBK JSON) of `entries` (dicts of DownloadsTestCase.entry); with `sizes`
    each entry with new bytes lists their size, unless it says "size": None itself."""
    data = []
    for entry in entries:
        item = {"name": entry["path"].rsplit("\\", 1)[-1], "md5": entry["md5"], "url": entry["url"],
                "path": entry["path"]}
        size = entry.get("size", len(entry["new"]) if entry.get("new") is not None else None)
        if sizes and size is not None:
            item["size"] = size
        data.append(item)
    text = json.dumps({"run": run, **(members or {}), "data": data}, ensure_ascii=False)
    return run_dir.write(e2e.HAND_OFF, text.encode("gbk"))


def windows_titles(windows):
    return [f"{w['title']!r} of process {w['pid']}" for w in windows]


class ManagedTestCase(WholeReleaseTestCase):
    """Runs of the updater as an administrator's script starts them."""

    def setUp(self):
        super().setUp()
        self.wine.env["TZ"] = TIME_ZONE

    def start_run(self, run_dir, *arguments, watch=True, env=None):
        """Starts the updater of `run_dir` with `arguments`; with `watch`, once a watcher looks for
        its windows and task dialogs."""
        watcher = stop_file = None
        if watch:
            folder = tempfile.mkdtemp(prefix="velmora-watch-", dir=os.path.dirname(e2e.WINDOWS_BUILD_DIR))
            self.addCleanup(shutil.rmtree, folder, True)
            stop_file = os.path.join(folder, "stop")
            watcher = self.wine.start(e2e.PROBE, "watch-windows", e2e.windows_path(stop_file), "--wait",
                                      str((RUN_BOUND + 60) * 1000))

            def watching():
                if watcher.poll() is not None:
                    self.fail(f"the window watcher ended at once (exit code {watcher.returncode})")
                with open(watcher.output_path, "rb") as output:
                    return b'"watching"' in output.read()
            self.wine.wait_for(watching, timeout=60, interval=0.1, message="the window watcher")
        log_before = run_log.log_bytes(run_dir)
        process = self.wine.start(run_dir.program, *arguments, env=env)
        return PendingRun(arguments, process, watcher, stop_file, log_before)

    def wait_until_watched(self, pending, title):
        """Waits until the watcher of `pending` has seen a window titled `title`: one that the test
        is about to close may otherwise come and go between two of the watcher's looks."""
        def seen():
            with open(pending.watcher.output_path, "rb") as output:
                lines = [json.loads(line) for line in output.read().splitlines() if line.startswith(b'{"seen"')]
            return any(line["seen"]["title"] == title for line in lines)
        self.wine.wait_for(seen, timeout=30, interval=0.05, message=f"the watcher to see {title!r}")

    def finish_run(self, run_dir, pending, bound=RUN_BOUND):
        """Waits for a started run to end by itself (at most `bound` seconds: then it is ended and
        the test fails); returns its Run."""
        output = self.wine.output_of(pending.process, timeout=bound)
        windows = []
        if pending.watcher is not None:
            with open(pending.stop_file, "wb"):
                pass
            answer = self.wine.answer_of(pending.watcher, timeout=60)
            self.assertGreater(answer["looks"], 1, "the window watcher did not look while the updater ran")
            windows = answer["windows"]
        if output is None:
            self.fail(f"the updater ({' '.join(pending.arguments)}) did not end by itself within {bound} s; "
                      f"windows seen: {windows_titles(windows)}")
        ended = datetime.datetime.now(datetime.timezone.utc)
        new_lines = run_log.parse(self.appended(run_dir, pending.log_before),
                                  first_number=pending.log_before.count(b"\n") + 1)
        zone = zoneinfo.ZoneInfo(TIME_ZONE)
        for line in new_lines:
            self.assertEqual(line.offset, zone.utcoffset(line.time.replace(tzinfo=None)),
                             f"log line {line.number} does not give {TIME_ZONE}'s offset: {line.raw}")
            self.assertTrue(pending.started - CLOCK_SLACK <= line.time <= ended + CLOCK_SLACK,
                            f"log line {line.number} is not dated within the run ({pending.started.isoformat()} "
                            f"to {ended.isoformat()} UTC): {line.raw}")
        return Run(pending.arguments, pending.process.returncode, output, windows, new_lines, pending.earlier_runs)

    def appended(self, run_dir, before):
        """What the log gained since it held `before`, across a rotation: the log as it was is then
        the start of update.log.1, and what follows it there and the new log are the run's."""
        data = run_log.log_bytes(run_dir)
        if data.startswith(before):
            return data[len(before):]
        rotated = run_log.log_bytes(run_dir, run_log.ROTATED)
        self.assertTrue(rotated.startswith(before), "the log lost lines during the run: it neither goes on from "
                                                    "where it was nor was rotated to update.log.1")
        return rotated[len(before):] + data

    def run_updater(self, run_dir, *arguments, watch=True, env=None, bound=RUN_BOUND):
        return self.finish_run(run_dir, self.start_run(run_dir, *arguments, watch=watch, env=env), bound=bound)

    # --- checks ---------------------------------------------------------------------------------

    def assert_exit(self, run, code):
        self.assertEqual(run.code, code, run.describe())

    def assert_nothing_shown(self, run):
        self.assertEqual(windows_titles(run.windows), [], f"the updater ({' '.join(run.arguments)}) showed a "
                                                          f"window or a task dialog")

    def assert_logged(self, run, mode, paths=(), manifest=None):
        """The run's lines: one fresh identifier, the start first (its mode and every argument), a line
        for each of `paths` (manifest paths), the exit code last. `manifest` True: a line between
        them gives the manifest's outcome; False: none speaks of a manifest (none was looked at)."""
        self.assertIsNotNone(run.lines, f"the run's lines must share one identifier, and no other run may "
                                         f"write meanwhile:\n{run_log.describe(run.new_lines)}")
        lines = run.lines
        text = run_log.describe(lines)
        self.assertNotIn(lines[0].run, run.earlier_runs, f"the run took an earlier run's identifier:\n{text}")
        start = lines[0].text
        self.assertIn("start", start.lower(), f"the first line is not the start:\n{text}")
        self.assertIn(mode, start, f"the start does not name the mode {mode!r}:\n{text}")
        for argument in run.arguments:
            self.assertIn(argument, start, f"the start does not name the argument {argument!r}:\n{text}")
        for path in paths:
            self.assertTrue(run_log.lines_of_path(lines, path), f"no line names {path}:\n{text}")
        self.assertEqual(run_log.exit_code_of(lines), run.code,
                         f"the last line must be the exit code {run.code}:\n{text}")
        if manifest is not None:
            about_manifest = [line for line in lines[1:-1] if "manifest" in line.text.lower()]
            self.assertEqual(bool(about_manifest), manifest,
                             f"{'no' if manifest else 'a'} line speaks of the manifest:\n{text}")
        return lines

    def assert_row_line(self, lines, path, *numbers):
        """Exactly one of the run's lines gives `path`'s outcome: it names the path and every one of
        `numbers` (bytes, an HTTP status)."""
        text = run_log.describe(lines)
        rows = [line for line in run_log.lines_of_path(lines, path)
                if all(run_log.has_number(line.text, number) for number in numbers)]
        self.assertEqual(len(rows), 1, f"one line must give {path}'s outcome with {numbers}; the run's lines:\n{text}")
        return rows[0]

    def assert_hand_off_kept(self, run_dir, written):
        self.assertEqual(self.content(e2e.local_path(run_dir.path, e2e.HAND_OFF)), written,
                         "the hand-off file was consumed or changed")

    def hand_off(self, run_dir, entries, run="Velmora.exe", sizes=False, members=None):
        """Writes the hand-off file (with more top-level `members`); returns its bytes."""
        return self.content(write_hand_off(run_dir, entries, run=run, sizes=sizes, members=members))


class ServedManifestTestCase(ManagedTestCase):
    """Runs whose manifest comes over HTTPS from a release site of the tests' own (release_site.py),
    trusted in the test prefix and reached through its tunnel proxy. `required_files` names what a
    subclass needs besides the Windows build."""

    required_files = ()

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        if not os.path.exists(e2e.PROGRAM) or not os.environ.get("DISPLAY"):
            raise unittest.SkipTest("needs the Windows build and a display")
        for needed in cls.required_files:
            if not needed or not os.path.exists(needed):
                raise unittest.SkipTest(f"{needed or 'a program of the tests'} is missing")
        cls.site = ReleaseSite()
        wine = e2e.Wine()
        try:
            cls.site.trust(wine)
        except BaseException:
            cls.site.stop()
            raise
        finally:
            wine.end_all()

    @classmethod
    def tearDownClass(cls):
        cls.site.stop()
        super().tearDownClass()

    def setUp(self):
        super().setUp()
        self.wine.env = {k: v for k, v in self.wine.env.items() if not k.lower().endswith("_proxy")}
        self.wine.env["http_proxy"] = self.site.proxy.address
