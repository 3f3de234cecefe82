"""End-to-end harness: runs the Windows program and the UI probe under Wine (standard library only).

Every Windows program is started through scripts/wine-run.sh, in the prefix that VELMORA_WINEPREFIX
names (or build/wine-prefix), on the display of the test run (scripts/test.sh provides Xvfb). The
process that wine-run.sh starts becomes the Windows process, so ending it by its pid ends the
program. Every process started here is ended by its pid when the test ends.

    wine = Wine()                                   # from the environment CTest sets
    run_dir = wine.make_run_directory()             # a fresh folder with a copy of the program
    program = wine.start(run_dir.program)           # a Popen
    window = wine.probe("window", "--wait", "20000")["window"]
    wine.probe("close")
    self.assertEqual(wine.wait(program), 0)

Environment: VELMORA_WINDOWS_BUILD_DIR (the Windows build), VELMORA_SOURCE_DIR (the checkout),
VELMORA_SCREENSHOT_DIR (where screenshots go; build/ by default).
"""

import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

HARNESS_DIR = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.environ.get("VELMORA_SOURCE_DIR", os.path.abspath(os.path.join(HARNESS_DIR, "..", "..", "..")))
WINDOWS_BUILD_DIR = os.environ.get("VELMORA_WINDOWS_BUILD_DIR", os.path.join(SOURCE_DIR, "build", "windows"))
SCREENSHOT_DIR = os.environ.get("VELMORA_SCREENSHOT_DIR", os.path.dirname(WINDOWS_BUILD_DIR))

PROGRAM = os.path.join(WINDOWS_BUILD_DIR, "src", "velmora-update.exe")
PROBE = os.path.join(WINDOWS_BUILD_DIR, "tools", "ui_probe", "ui-probe.exe")
WINE_RUN = os.path.join(SOURCE_DIR, "scripts", "wine-run.sh")
# The test prefix's C: drive. A program below it is started by its C: path: Wine would otherwise
# name it by its Z: path, whose folders above (such as a world-writable /tmp) the program's own
# location check judges.
DRIVE_C = os.path.join(os.environ.get("VELMORA_WINEPREFIX") or os.path.join(SOURCE_DIR, "build", "wine-prefix"),
                       "drive_c")

WINDOW_TITLE = "Update"
NOTICE_TITLE = "Velmora - Update"

# The probe commands that one serving probe answers (`ui-probe serve`): they only read or act on
# windows of other programs and end at once. The others (a notice the probe shows itself, a watch,
# a pipe client) run in a probe process of their own.
SERVED_PROBE_COMMANDS = {"windows", "window", "grid", "button", "press-button", "click-button", "minimise", "close",
                         "set-column-width", "notice", "notice-press", "notice-close", "notice-check", "code-pages",
                         "credential-dialog", "credential-fill", "credential-press"}

# Button identifiers of task dialogs.
IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7


def manifest_origin():
    """The manifest server origin the Windows build was configured with (VELMORA_MANIFEST_ORIGIN)."""
    with open(os.path.join(WINDOWS_BUILD_DIR, "CMakeCache.txt"), encoding="utf-8") as cache:
        for line in cache:
            if line.startswith("VELMORA_MANIFEST_ORIGIN:"):
                return line.split("=", 1)[1].strip()
    raise RuntimeError("VELMORA_MANIFEST_ORIGIN not found in the Windows build's cache")


def write_tree(root, files):
    """Writes `files` ({"/"-separated relative path: bytes}) below `root`."""
    for relative, data in files.items():
        path = os.path.join(root, *relative.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(data)


def read_tree(root):
    """{"/"-separated relative path: bytes} of every file below `root`."""
    tree = {}
    for directory, _, names in os.walk(root):
        for name in names:
            path = os.path.join(directory, name)
            with open(path, "rb") as source:
                tree[os.path.relpath(path, root).replace(os.sep, "/")] = source.read()
    return tree


def hex_text(text):
    """A text argument for ui-probe that survives any locale: "hex:" + its UTF-8 bytes in hex."""
    return "hex:" + text.encode("utf-8").hex().upper()


class ProbeError(AssertionError):
    pass


class RunDirectory:
    """A fresh folder holding a copy of the program (the run directory), removed by cleanup()."""

    def __init__(self, parent=None, exe_name="velmora-update.exe"):
        self.path = tempfile.mkdtemp(prefix="velmora-run-", dir=parent)
        self.program = os.path.join(self.path, exe_name)
        shutil.copy2(PROGRAM, self.program)

    def write(self, relative, data):
        """Writes bytes to a file below the folder ("/"-separated relative path)."""
        target = os.path.join(self.path, *relative.split("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as out:
            out.write(data)
        return target

    def write_hand_off(self, paths=("\\Bin\\Velmora.dll",), run="Velmora.exe"):
        """Writes the hand-off manifest (GBK JSON) that the program reads when started with an
        argument, listing `paths` with a digest no local file has: each becomes a grid row."""
        data = [{"name": p.rsplit("\\", 1)[-1], "md5": "0" * 32, "url": "http://127.0.0.1:9" + p.replace("\\", "/"),
                 "path": p} for p in paths]
        text = json.dumps({"run": run, "data": data}, ensure_ascii=False)
        return self.write("Bin/Config/UP.data", text.encode("gbk"))

    def cleanup(self):
        shutil.rmtree(self.path, ignore_errors=True)


class Wine:
    """Starts Windows programs under Wine and ends them by pid; drives the UI probe."""

    def __init__(self, extra_env=None):
        self.env = dict(os.environ)
        self.env.update(extra_env or {})
        self.started = []
        self.probe_server = None

    def start(self, program, *arguments, env=None):
        """Starts `program` (a Windows .exe) and returns its Popen.

        Its standard output goes to a file (`process.output_path`), never a pipe: a Wine program may
        start Wine's desktop helper, which inherits the output and would hold a pipe open long after
        the program ended. output_of() reads it once the program has ended."""
        process_env = dict(self.env)
        process_env.update(env or {})
        output = tempfile.NamedTemporaryFile(prefix="velmora-out-", delete=False)
        errors = tempfile.NamedTemporaryFile(prefix="velmora-err-", delete=False)
        try:
            if is_below(program, DRIVE_C):
                program = windows_path(program)
            process = subprocess.Popen([WINE_RUN, program, *arguments], env=process_env,
                                       stdin=subprocess.DEVNULL, stdout=output, stderr=errors)
        finally:
            output.close()
            errors.close()
        process.output_path = output.name
        process.errors_path = errors.name
        self.started.append(process)
        return process

    def output_of(self, process, timeout=30):
        """The standard output (bytes) of a process started here, once it has ended; None when it
        runs longer than `timeout` (it is ended then)."""
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.end(process)
            return None
        with open(process.output_path, "rb") as output:
            return output.read()

    def wait(self, process, timeout=30):
        """The exit code of `process`; ends it and fails the test when it runs longer than `timeout`."""
        try:
            return process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.end(process)
            raise AssertionError(f"process {process.pid} still running after {timeout} s")

    def end(self, process):
        if process.poll() is None:
            process.send_signal(signal.SIGKILL)
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
        for path in (getattr(process, "output_path", None), getattr(process, "errors_path", None)):
            if path and os.path.exists(path):
                os.unlink(path)

    def errors_of(self, process, limit=2000):
        """The end of what Wine wrote to the standard error of a process started here (its loader's
        and server's complaints: why a program did not start or lost its display)."""
        try:
            with open(process.errors_path, "rb") as errors:
                text = errors.read().decode("utf-8", "replace").strip()
        except (AttributeError, OSError):
            return ""
        return text[-limit:]

    def end_all(self):
        for process in self.started:
            self.end(process)
        self.started = []
        self.probe_server = None

    def probe(self, *arguments, env=None, timeout=60, check=True, attempts=2):
        """Runs ui-probe.exe with `arguments` and returns its JSON answer (a dict).

        The commands that only look at or act on other programs' windows go to one probe process
        that serves them all (starting a Wine process costs more than most looks); the others start
        a probe of their own. A probe that ends without printing anything never got to run its
        command (Wine failed to start it, which happens now and then on a loaded machine): it is
        started once more."""
        lines = None
        if env is None and arguments and arguments[0] in SERVED_PROBE_COMMANDS:
            try:
                lines = self.served_probe_lines(arguments, timeout)
            except ProbeError as error:
                # The serving probe is ended; the request is made once more by a probe of its own.
                print(f"{error}; asking a probe of its own", file=sys.stderr)
        if lines is None:
            lines = self.probe_process_lines(arguments, env, timeout, attempts)
        answer = json.loads(lines[-1])
        if check and (answer.get("found") is False or answer.get("ok") is False):
            raise ProbeError(f"ui-probe {' '.join(arguments)}: {answer}")
        return answer

    def served_probe_lines(self, arguments, timeout):
        """The JSON lines the serving probe answers to `arguments`. A server that is gone (ended with
        the test's programs) is started again; one that does not answer in time is ended, and the
        next request starts another."""
        request = (" ".join(word.encode("utf-8").hex() for word in arguments) + "\n").encode("ascii")
        for attempt in range(2):
            server = self.serving_probe()
            try:
                with socket.create_connection(("127.0.0.1", server.port), timeout=timeout) as connection:
                    connection.sendall(request)
                    reply = b""
                    while chunk := connection.recv(65536):
                        reply += chunk
                break
            except socket.timeout:
                self.end(server)
                raise ProbeError(f"ui-probe {' '.join(arguments)} did not answer within {timeout} s")
            except OSError as error:
                # Refused or reset: the server ended (a test ended every program, or Wine's session).
                message = (f"ui-probe {' '.join(arguments)}: the serving probe is gone ({error}; "
                           f"Wine said: {self.errors_of(server)!r})")
                self.end(server)
                if attempt == 1:
                    raise ProbeError(message)
        exit_code, _, answer = reply.decode("utf-8", "replace").partition("\n")
        lines = [line for line in answer.splitlines() if line.startswith("{")]
        if not lines:
            raise ProbeError(f"ui-probe {' '.join(arguments)} gave no answer (exit code {exit_code})")
        return lines

    def serving_probe(self, timeout=60):
        """The serving probe (`ui-probe serve`), started when there is none; its `port` is where
        it listens."""
        server = self.probe_server
        if server is not None and server.poll() is None:
            return server
        for attempt in range(2):
            server = self.start(PROBE, "serve")
            deadline = time.monotonic() + timeout
            line = b""
            while not line.endswith(b"\n") and server.poll() is None and time.monotonic() < deadline:
                time.sleep(0.01)
                with open(server.output_path, "rb") as output:
                    line = output.readline()
            if line.endswith(b"\n") and json.loads(line).get("serving"):
                server.port = json.loads(line)["port"]
                self.probe_server = server
                return server
            message = (f"ui-probe serve did not start (exit code {server.poll()}; Wine said: "
                       f"{self.errors_of(server)!r})")
            self.end(server)
            if attempt == 1:
                raise ProbeError(message)
            print(message + "; starting it once more", file=sys.stderr)

    def probe_process_lines(self, arguments, env, timeout, attempts):
        """The JSON lines of a probe process of its own run with `arguments`."""
        for attempt in range(attempts):
            process = self.start(PROBE, *arguments, env=env)
            out = self.output_of(process, timeout=timeout)
            if out is None:
                raise ProbeError(f"ui-probe {' '.join(arguments)} did not answer within {timeout} s")
            lines = [line for line in out.decode("utf-8", "replace").splitlines() if line.startswith("{")]
            if lines:
                break
            if attempt + 1 == attempts:
                raise ProbeError(f"ui-probe {' '.join(arguments)} gave no answer (exit code {process.returncode}; "
                                 f"Wine said: {self.errors_of(process)!r})")
            print(f"ui-probe {' '.join(arguments)} gave no answer (exit code {process.returncode}; Wine said: "
                  f"{self.errors_of(process)!r}); starting it once more", file=sys.stderr)
            time.sleep(0.5)
        return lines

    def start_probe(self, *arguments, env=None):
        """Starts ui-probe.exe without waiting (for commands that block, such as show-notice)."""
        return self.start(PROBE, *arguments, env=env)

    def answer_of(self, process, timeout=30):
        """The JSON answer of a probe started with start_probe."""
        out = self.output_of(process, timeout=timeout)
        if out is None:
            raise ProbeError(f"ui-probe {process.pid} did not answer within {timeout} s")
        lines = [line for line in out.decode("utf-8", "replace").splitlines() if line.startswith("{")]
        if not lines:
            raise ProbeError(f"ui-probe {process.pid} gave no answer (exit code {process.returncode}; "
                             f"Wine said: {self.errors_of(process)!r})")
        return json.loads(lines[-1])

    def wait_for(self, condition, timeout=20, interval=0.2, message="condition"):
        """Polls `condition()` until it returns a true value, which is returned."""
        deadline = time.monotonic() + timeout
        while True:
            value = condition()
            if value:
                return value
            if time.monotonic() >= deadline:
                raise AssertionError(f"timed out after {timeout} s waiting for {message}")
            time.sleep(interval)


def screenshot(name, frame=None, margin=8):
    """Saves the screen (or the `frame` rectangle of a window, with a margin) as SCREENSHOT_DIR/name.

    Returns the path. Needs ImageMagick's import, which setup.sh installs."""
    os.makedirs(SCREENSHOT_DIR, exist_ok=True)
    path = os.path.join(SCREENSHOT_DIR, name)
    command = ["import", "-window", "root"]
    if frame:
        x = max(frame["x"] - margin, 0)
        y = max(frame["y"] - margin, 0)
        command += ["-crop", f"{frame['width'] + 2 * margin}x{frame['height'] + 2 * margin}+{x}+{y}", "+repage"]
    subprocess.run(command + [path], check=True, timeout=30,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return path


class WineTestCase(unittest.TestCase):
    """A test case with a Wine helper whose processes and run directories end with each test."""

    def setUp(self):
        if not os.path.exists(PROGRAM) or not os.path.exists(PROBE):
            self.skipTest(f"the Windows build is missing ({WINDOWS_BUILD_DIR})")
        if not os.environ.get("DISPLAY"):
            self.skipTest("no display (run through scripts/with-display.sh)")
        self.wine = Wine()
        self.addCleanup(self.wine.end_all)

    def make_run_directory(self, **kwargs):
        run_dir = RunDirectory(**{"parent": os.path.dirname(WINDOWS_BUILD_DIR), **kwargs})
        self.addCleanup(run_dir.cleanup)
        return run_dir

    def start_program(self, run_dir, *arguments, hand_off=True, wait_for_window=True, timeout=30):
        """Starts the program of `run_dir`; returns (process, window description).

        With `hand_off` (and no arguments given) the program reads a hand-off manifest listing one
        file instead of asking the manifest server, so its window stays open without a notice."""
        if hand_off and not arguments:
            run_dir.write_hand_off()
            arguments = ("--from-product",)
        process = self.wine.start(run_dir.program, *arguments)
        window = None
        if wait_for_window:
            answer = self.wine.probe("window", "--wait", str(timeout * 1000), timeout=timeout + 30, check=False)
            self.assertIn("window", answer, f"no window; the program's exit code: {process.poll()} (None: it runs)")
            window = answer["window"]
        return process, window

    def wait_for_filled_grid(self, updater, timeout=60):
        """The grid once the update check has finished (it enables the start button)."""
        def filled():
            if updater.poll() is not None:
                self.fail(f"the updater ended with code {updater.returncode}")
            button = self.wine.probe("button", "--wait", "5000", check=False).get("button")
            return self.wine.probe("grid")["grid"] if button and button["enabled"] else None
        return self.wine.wait_for(filled, timeout=timeout, interval=0.3, message="the listed files")


# --- Downloads: the stand-in product, hand-off manifests of real entries, files and paths ---------

import hashlib  # noqa: E402

STAND_IN = os.path.join(WINDOWS_BUILD_DIR, "tools", "stand_in_product", "stand-in-product.exe")

# Row status texts of the downloads.
STATUS_READY = "准备下载"
STATUS_DOWNLOADING = "下载中"
STATUS_SUCCEEDED = "下载成功"
STATUS_LOCKED_PREFIX = "文件被占用,解除中->"
STATUS_READ_FAILED = "读本地文件失败"
STATUS_BAD_ADDRESS = "下载地址错误"
STATUS_LOCAL_FILE = "不能打开本地文件"
STATUS_DIGEST_MISMATCH = "文件校验失败"

# Grid columns of a row.
COLUMN_ROW, COLUMN_PATH, COLUMN_PROGRESS, COLUMN_SPEED, COLUMN_SIZE, COLUMN_DOWNLOADED, COLUMN_MS, COLUMN_STATUS = range(8)

STAGING_SUFFIX = ".velmora-part"
STAGING_FOLDER = ".velmora-staging"


def is_below(path, folder):
    full, folder = os.path.abspath(path), os.path.abspath(folder)
    return full.startswith(folder + os.sep)


def windows_path(path):
    """The Windows form of a Linux path under Wine: "C:\\..." below the test prefix's drive_c,
    otherwise under Wine's Z: drive ("Z:\\work\\...")."""
    if is_below(path, DRIVE_C):
        return "C:" + os.path.abspath(path)[len(os.path.abspath(DRIVE_C)):].replace("/", "\\")
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def md5_hex(data):
    return hashlib.md5(data).hexdigest()


def write_hand_off_entries(run_dir, entries, run="Velmora.exe", members=None):
    """Writes the hand-off manifest (GBK JSON) of `run_dir` with `entries`: dicts with "path" (a
    "\\"-separated path below the run directory, starting with "\\"), "url" and "md5"; "name"
    defaults to the path's last component; `members`: more top-level members."""
    data = [{"name": entry.get("name", entry["path"].rsplit("\\", 1)[-1]), "md5": entry["md5"], "url": entry["url"],
             "path": entry["path"]} for entry in entries]
    text = json.dumps({"run": run, **(members or {}), "data": data}, ensure_ascii=False)
    return run_dir.write("Bin/Config/UP.data", text.encode("gbk"))


def install_stand_in(directory, exe_name="Velmora.exe", trailer=b""):
    """Copies the stand-in product into `directory` as `exe_name`, with `trailer` appended (an
    executable runs the same with bytes after its image, so trailers make versions that differ).
    Returns (its path, its bytes)."""
    with open(STAND_IN, "rb") as source:
        data = source.read() + trailer
    os.makedirs(directory, exist_ok=True)
    path = os.path.join(directory, exe_name)
    with open(path, "wb") as out:
        out.write(data)
    return path, data


def stand_in_starts(exe_path):
    """The starts that the stand-in at `exe_path` recorded: a list of dicts (pid, path, arguments,
    and held for --hold-file), oldest first."""
    try:
        with open(exe_path + ".starts.txt", "rb") as record:
            lines = record.read().decode("utf-8").splitlines()
    except FileNotFoundError:
        return []
    return [json.loads(line) for line in lines if line.strip()]


def staging_leftovers(directory):
    """Files below `directory` whose names end with the staging suffix."""
    return [os.path.join(root, name) for root, _, names in os.walk(directory) for name in names
            if name.endswith(STAGING_SUFFIX)]


def staging_path(entry):
    """Where the updater stages `entry` (a dict with "local", its file's path, and "md5"): in the
    file's folder, .velmora-staging/<the key's first 2 digits>/ and the file's name, "." and the key
    (16 hex digits of the MD5 of the entry's content: its digest in lower case, and its SHA-256 and
    size, which the hand-off entries of these tests do not list), and the staging suffix. The URL
    plays no part."""
    key = hashlib.md5((entry["md5"].lower() + "\n\n").encode("utf-8")).hexdigest()[:16]
    folder, name = os.path.split(entry["local"])
    return os.path.join(folder, STAGING_FOLDER, key[:2], name + "." + key + STAGING_SUFFIX)


# --- What an update keeps below Bin\Config of the run directory ----------------------------------

CONFIG_DIR = "Bin/Config"
HAND_OFF = CONFIG_DIR + "/UP.data"
JOURNAL = CONFIG_DIR + "/update.journal"              # only while a commit runs (or was killed)
JOURNAL_TEMP = JOURNAL + ".tmp"                       # the journal while it is written (a kill may leave it)
KEPT_RELEASE = CONFIG_DIR + "/PreviousRelease"        # release.txt and files/<path>: the old bytes
KEPT_RELEASE_NEW = CONFIG_DIR + "/PreviousRelease.new"  # only during a commit
KEPT_RELEASE_OLD = CONFIG_DIR + "/PreviousRelease.old"  # only during a commit
ROLLED_BACK = CONFIG_DIR + "/rolled-back.txt"
UPDATE_LOG = CONFIG_DIR + "/update.log"
UPDATE_LOG_PREVIOUS = UPDATE_LOG + ".1"               # the log set aside when it reached 1 MiB
UPDATE_STATE = (JOURNAL, JOURNAL_TEMP, KEPT_RELEASE, KEPT_RELEASE_NEW, KEPT_RELEASE_OLD, ROLLED_BACK, UPDATE_LOG,
                UPDATE_LOG_PREVIOUS)
# What only a commit in progress may leave.
COMMIT_STATE = (JOURNAL, JOURNAL_TEMP, KEPT_RELEASE_NEW, KEPT_RELEASE_OLD)


def local_path(root, relative):
    """The path below `root` of a "/"-separated relative path."""
    return os.path.join(root, *relative.split("/"))


def is_update_state(relative):
    """Whether a "/"-separated path relative to the run directory is (below) one of the update's own
    state files and folders."""
    return any(relative == state or relative.startswith(state + "/") for state in UPDATE_STATE)


def commit_state_left(root):
    """The commit-only state paths that exist below the run directory `root` (a folder with the
    files it holds, for the failure message)."""
    left = []
    for state in COMMIT_STATE:
        path = local_path(root, state)
        if os.path.isdir(path):
            left.append(f"{state} holding {sorted(read_tree(path))}")
        elif os.path.lexists(path):
            left.append(state)
    return left


def kept_files(root):
    """{"/"-separated path relative to the run directory: bytes} of the kept previous release's files."""
    folder = local_path(root, KEPT_RELEASE + "/files")
    return read_tree(folder) if os.path.isdir(folder) else {}


def wine_reg(*arguments, check=True):
    """Runs reg.exe with `arguments` in the test prefix (through scripts/wine-run.sh, so nowhere
    else); returns (exit code, its standard output as text). The output goes to a file: a pipe could
    be held open by a Wine helper that reg.exe started."""
    with tempfile.TemporaryFile() as output:
        done = subprocess.run([WINE_RUN, "reg", *arguments], stdin=subprocess.DEVNULL, stdout=output,
                              stderr=subprocess.DEVNULL, timeout=120)
        output.seek(0)
        text = output.read().decode("utf-8", "replace")
    if check and done.returncode != 0:
        raise AssertionError(f"reg {' '.join(arguments)} failed with code {done.returncode}: {text}")
    return done.returncode, text
