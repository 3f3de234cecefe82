"""The demonstration behind the run command: a whole update of the product under Wine.

    python3 scripts/demo/demo.py [--drive]

A local release server hands out the manifest (HTTPS) and a release of the product of about 40 MB
(plain HTTP on 127.0.0.1, sent at a few MB/s per file so that the progress can be watched). An
older copy of the product is placed in the demo run directory (<build root>/demo/run); its
Velmora.exe, the manifest's `run`, is the stand-in product (tools/stand_in_product), which records
every start in Velmora.exe.starts.txt. One copy of the old Velmora.exe is started from the run
directory and kept running (--hold), so that it holds its own file. Then the updater starts there
under Wine and lists the four stale files.

With --drive the demonstration presses the start button itself, answers the success notice with OK
and checks the result: every stale file replaced by the release's bytes, the running old copy
ended, the new Velmora.exe started by the updater, the updater's exit code 0. Without it the window
is left to the person at the display, and the same summary is printed once the updater has ended.
Either way the window is saved to <build root>/run-downloads.png while files are downloading and
the success notice to <build root>/run-notice.png. Exit code 0 when the update went as described.

Expects the Windows build (scripts/build.sh windows) and a display; scripts/demo/run-demo.sh does
all of that. Everything lives below <build root>/demo: the run's own certificate authority (trusted
only in the demo's Wine prefix), the release and the run directory. The updater asks for its
manifest at the build's address (https://update.velmora.example by default); it runs with
http_proxy naming a local proxy that tunnels to the local HTTPS server, exactly as the end-to-end
tests do. The plain requests for the files reach 127.0.0.1 without the proxy (WinINet under Wine
takes them there directly; the proxy would pass them on to 127.0.0.1 too); the demonstration prints
what went through the proxy.
"""

import argparse
import hashlib
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unicodedata
import urllib.parse

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e", "servers"))

import file_server  # noqa: E402
import https_server  # noqa: E402
import test_ca  # noqa: E402
import tunnel_proxy  # noqa: E402

BUILD_ROOT = os.environ.get("VELMORA_BUILD_ROOT", os.path.join(ROOT, "build"))
WINDOWS_BUILD = os.path.join(BUILD_ROOT, "windows")
DEMO_DIR = os.path.join(BUILD_ROOT, "demo")
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run.sh")
PROGRAM = os.path.join(WINDOWS_BUILD, "src", "velmora-update.exe")
UI_PROBE = os.path.join(WINDOWS_BUILD, "tools", "ui_probe", "ui-probe.exe")
HTTPS_PROBE = os.path.join(WINDOWS_BUILD, "tools", "https_probe", "https-probe.exe")
STAND_IN = os.path.join(WINDOWS_BUILD, "tools", "stand_in_product", "stand-in-product.exe")
RELEASE_TOOL = os.path.join(WINDOWS_BUILD, "tools", "release", "velmora-release.exe")
MANIFEST_PATH = "/download/2099/pro/up.txt"
DOWNLOADS_SHOT = os.path.join(BUILD_ROOT, "run-downloads.png")
NOTICE_SHOT = os.path.join(BUILD_ROOT, "run-notice.png")

MIB = 1024 * 1024
# Each file is sent in pieces of STEP bytes, one every INTERVAL seconds: at most about 4 MB/s, so
# that the downloads take some six seconds.
STEP = 64 * 1024
INTERVAL = 0.016
# The running old copy would stay this long; the updater ends it long before.
HOLD_SECONDS = 3600

# Texts of the window and its notice.
WINDOW_TITLE = "Update"
READY = "准备下载"
DOWNLOADING = "下载中"
SUCCEEDED = "下载成功"
CAPTION_DONE = "更新完成"
IDOK = 1
# Grid columns.
PATH, PROGRESS, SPEED, SIZE, DOWNLOADED, STATUS = 1, 2, 3, 4, 5, 7


def stand_in(version, size):
    """The stand-in product as release `version`: its image, a version trailer (an executable runs
    the same with bytes after its image) and filler up to `size` bytes."""
    with open(STAND_IN, "rb") as source:
        data = source.read() + ("\0Velmora %s\0" % version).encode("ascii")
    return data + os.urandom(max(size - len(data), 0))


def make_release():
    """(release, older copy): install path -> bytes. The release's files differ from the older
    copy's except for the last two, so the updater lists four files, one of them new."""
    settings = b"[update]\nchannel=stable\n"
    readme = b"Velmora - read me\n"
    release = {
        "\\Velmora.exe": stand_in("2.1.0 (build 4711)", 4 * MIB),
        "\\Bin\\core.dll": os.urandom(8 * MIB),
        "\\Bin\\界面资源\\皮肤 蓝色.dat": os.urandom(10 * MIB),
        "\\Bin\\新功能.dll": os.urandom(16 * MIB),
        "\\Bin\\Config\\settings.ini": settings,
        "\\readme.txt": readme,
    }
    older = {
        "\\Velmora.exe": stand_in("2.0.3 (build 4488)", 4 * MIB),
        "\\Bin\\core.dll": os.urandom(7 * MIB),
        "\\Bin\\界面资源\\皮肤 蓝色.dat": os.urandom(9 * MIB),
        "\\Bin\\Config\\settings.ini": settings,
        "\\readme.txt": readme,
    }
    return release, older


def manifest_origin():
    with open(os.path.join(WINDOWS_BUILD, "CMakeCache.txt"), encoding="utf-8") as cache:
        for line in cache:
            if line.startswith("VELMORA_MANIFEST_ORIGIN:"):
                return line.split("=", 1)[1].strip()
    raise SystemExit("demo: the Windows build has no VELMORA_MANIFEST_ORIGIN; run scripts/build.sh windows")


def local_path(base, install_path):
    return os.path.join(base, *install_path.strip("\\").split("\\"))


def write(base, install_path, data):
    target = local_path(base, install_path)
    os.makedirs(os.path.dirname(target), exist_ok=True)
    with open(target, "wb") as out:
        out.write(data)


def md5_of_file(path):
    try:
        with open(path, "rb") as source:
            return hashlib.md5(source.read()).hexdigest()
    except OSError:
        return None


def wine(*arguments, env, timeout=120):
    """Runs a Windows program to its end; returns (exit code, standard output). The output goes
    through a file, not a pipe: Wine's own services, started by whichever program comes first, may
    hold on to a pipe long after the program has ended."""
    with tempfile.TemporaryFile() as output:
        finished = subprocess.run((WINE_RUN,) + arguments, env=env, stdin=subprocess.DEVNULL, stdout=output,
                                  stderr=subprocess.DEVNULL, timeout=timeout)
        output.seek(0)
        return finished.returncode, output.read()


def start(program, *arguments, env, cwd=None):
    """Starts a Windows program without waiting. The process that wine-run.sh starts becomes the
    Windows process, so ending it by its pid ends the program."""
    return subprocess.Popen((WINE_RUN, program) + arguments, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def end(process):
    if process is not None and process.poll() is None:
        process.send_signal(signal.SIGKILL)
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            pass


def probe(env, *arguments):
    """ui-probe's answer (a dict); {} when it printed none (Wine failed to start it: tried twice)."""
    for _ in range(2):
        output = wine(UI_PROBE, *arguments, env=env)[1].decode("utf-8", "replace").splitlines()
        answers = [line for line in output if line.startswith("{")]
        if answers:
            return json.loads(answers[-1])
        time.sleep(0.3)
    return {}


def starts_of(exe_path):
    """The starts the stand-in at `exe_path` recorded (dicts with pid, path, arguments), oldest first."""
    try:
        with open(exe_path + ".starts.txt", "rb") as record:
            lines = record.read().decode("utf-8").splitlines()
    except FileNotFoundError:
        return []
    return [json.loads(line) for line in lines if line.strip()]


def wait_for(condition, timeout, interval=0.2):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


def screenshot(path, frame, margin=8):
    """Saves the screen around `frame` (a window's rectangle) to `path`; True when saved."""
    x, y = max(frame["x"] - margin, 0), max(frame["y"] - margin, 0)
    crop = "%dx%d+%d+%d" % (frame["width"] + 2 * margin, frame["height"] + 2 * margin, x, y)
    command = ["import", "-window", "root", "-crop", crop, "+repage", path]
    return subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30).returncode == 0


def padded(text, width):
    """`text` followed by spaces up to `width` terminal columns (Chinese characters take two)."""
    used = sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in text)
    return text + " " * max(width - used, 0)


def describe_row(row):
    return "%s %3s%%  %-12s %-10s %-10s %s" % (padded(row[PATH], 30), row[PROGRESS] or "0", row[SPEED],
                                               row[DOWNLOADED], row[SIZE], row[STATUS])


class Demo:
    def __init__(self, options):
        self.drive = options.drive
        self.run_dir = os.path.join(DEMO_DIR, "run")
        self.product = os.path.join(self.run_dir, "Velmora.exe")
        self.processes = []
        self.problems = []

    def check(self, condition, problem):
        if not condition:
            self.problems.append(problem)
        return condition

    def run(self):
        for needed in (PROGRAM, UI_PROBE, HTTPS_PROBE, STAND_IN, RELEASE_TOOL):
            if not os.path.exists(needed):
                raise SystemExit("demo: %s is missing; run scripts/build.sh windows" % needed)
        shutil.rmtree(DEMO_DIR, ignore_errors=True)
        os.makedirs(self.run_dir)
        for stale in (DOWNLOADS_SHOT, NOTICE_SHOT):
            if os.path.exists(stale):
                os.remove(stale)

        origin = manifest_origin()
        authority = test_ca.TestAuthority(os.path.join(DEMO_DIR, "ca"), common_name="Velmora Demo Authority",
                                          names=("127.0.0.1", "localhost", urllib.parse.urlsplit(origin).hostname))
        manifest_server = https_server.HttpsServer(authority.server_cert, authority.server_key)
        files = file_server.FileServer()
        proxy = tunnel_proxy.TunnelProxy("127.0.0.1", manifest_server.port)
        try:
            return self.run_with(origin, authority, manifest_server, files, proxy)
        finally:
            for process in reversed(self.processes):
                end(process)
            proxy.stop()
            files.stop()
            manifest_server.stop()

    def run_with(self, origin, authority, manifest_server, files, proxy):
        self.proxy = proxy
        self.env = {key: value for key, value in os.environ.items() if not key.lower().endswith("_proxy")}
        self.env["http_proxy"] = proxy.address
        self.release, older = make_release()
        self.publish(manifest_server, files)
        # In the order the manifest lists them (sorted by path), which is the order of the rows.
        self.stale = sorted(path for path, content in self.release.items() if older.get(path) != content)

        for install_path, content in older.items():
            write(self.run_dir, install_path, content)
        shutil.copy(PROGRAM, self.run_dir)

        trusted, _ = wine(HTTPS_PROBE, "trust-root", "Z:" + authority.ca_cert.replace("/", "\\"), env=self.env)
        if trusted != 0:
            raise SystemExit("demo: could not trust the demo authority in the Wine prefix")

        total = sum(len(self.release[path]) for path in self.stale)
        print("demo: release server: manifest %s%s (HTTPS, tunnelled by the proxy %s to 127.0.0.1:%d), "
              "%d files of %.1f MB in all at %s" % (origin, MANIFEST_PATH, proxy.address, manifest_server.port,
                                                     len(self.stale), total / 1e6, files.url("/files/...")))
        print("demo: older copy of the product (2.0.3) in %s" % self.run_dir)

        # The old product, running from the run directory: it holds its own executable.
        self.old_process = start(self.product, "--hold", str(HOLD_SECONDS), env=self.env, cwd=self.run_dir)
        self.processes.append(self.old_process)
        old_starts = wait_for(lambda: starts_of(self.product), timeout=60)
        if not old_starts:
            raise SystemExit("demo: the old Velmora.exe did not start")
        self.old_start = old_starts[0]
        print("demo: the old Velmora.exe is running from the run directory (Windows pid %d, --hold %d)"
              % (self.old_start["pid"], HOLD_SECONDS))

        self.updater = start(os.path.join(self.run_dir, "velmora-update.exe"), env=self.env, cwd=self.run_dir)
        self.processes.append(self.updater)
        window = self.wait_for_list()
        if window is None:
            return self.finish()
        notice = self.watch_downloads(window)
        if notice is not None:
            self.answer(notice)
        return self.finish()

    def publish(self, manifest_server, files):
        """Publishes the release as a release manager would: velmora-release (its Windows build, under
        Wine) lays out the static tree of the release folder, and the release server hands out that
        tree: up.txt over HTTPS where the updater asks for it, every content-addressed file over plain
        HTTP, dripped so that the progress can be watched."""
        release_dir = os.path.join(DEMO_DIR, "release")
        site_dir = os.path.join(DEMO_DIR, "site")
        for install_path, content in self.release.items():
            write(release_dir, install_path, content)
        code, output = wine(RELEASE_TOOL, "publish", "Z:" + release_dir.replace("/", "\\"),
                            "Z:" + site_dir.replace("/", "\\"), "--base-url", files.url("/"), "--run", "Velmora.exe",
                            env=self.env)
        print("demo: velmora-release publish:\n   " + output.decode("utf-8", "replace").strip().replace("\n", "\n   "))
        if code != 0:
            raise SystemExit("demo: velmora-release publish failed (exit code %d)" % code)
        for root, _, names in os.walk(site_dir):
            for name in names:
                path = os.path.join(root, name)
                route = "/" + os.path.relpath(path, site_dir).replace(os.sep, "/")
                with open(path, "rb") as source:
                    body = source.read()
                if route == MANIFEST_PATH:
                    manifest_server.reply(route, body)
                else:
                    files.serve(route, body, behaviour=file_server.DRIP, step=STEP, interval=INTERVAL)

    def wait_for_list(self):
        """Waits until the updater lists the stale files and enables its start button; returns the
        window's description, or None when it ended or showed no list."""
        deadline = time.monotonic() + 120
        while time.monotonic() < deadline and self.updater.poll() is None:
            button = probe(self.env, "button", "--wait", "5000").get("button")
            if button and button.get("enabled"):
                window = probe(self.env, "window").get("window")
                grid = probe(self.env, "grid").get("grid")
                if window and grid:
                    print("demo: the updater lists %d stale files:" % len(grid["rows"]))
                    for row in grid["rows"]:
                        print("   %s  %s %s" % (row[0], padded(row[PATH], 30), row[STATUS]))
                    self.check([row[PATH] for row in grid["rows"]] == self.stale,
                               "the updater listed %s, not %s" % ([row[PATH] for row in grid["rows"]], self.stale))
                    return window
            notice = probe(self.env, "notice").get("notice")
            if notice:
                self.check(False, "the updater showed a notice instead of the list: \"%s\" / \"%s\""
                           % (notice["mainInstruction"], notice["content"]))
                if self.drive:
                    end(self.updater)
                return None
            time.sleep(0.3)
        self.check(False, "the updater showed no list (exit code %s)" % self.updater.poll())
        return None

    def watch_downloads(self, window):
        """Presses the start button (--drive) or waits for the person at the display to; reads the
        grid until the success notice opens and saves the screenshots. Returns the notice."""
        pid = str(window["pid"])
        if self.drive:
            time.sleep(0.5)  # the list is on screen for a moment before the downloads start
            probe(self.env, "click-button", "--pid", pid)
            print("demo: pressed 开始下载")
        else:
            print("demo: press 开始下载 in the window to start the downloads")
        started = None
        shot, shot_score = None, 0  # the reading of the saved downloads screenshot, and its score
        last = None
        most_downloading = 0
        last_downloading = set()
        while self.updater.poll() is None:
            if self.drive and started is not None and time.monotonic() - started > 120:
                self.check(False, "the downloads did not end within 120 s")
                break
            button = probe(self.env, "button", "--pid", pid).get("button")
            grid = probe(self.env, "grid", "--pid", pid).get("grid")
            if not button or not grid:
                continue
            if started is None and not button["enabled"]:
                started = time.monotonic()
            if started is None:
                time.sleep(0.3)
                continue
            rows = grid["rows"]
            downloading = [row for row in rows if row[STATUS] == DOWNLOADING]
            # A row counts when two readings in a row show it downloading: one reading asks for the
            # cells one at a time and can span the moment one row ends and the next starts.
            now_downloading = {row[PATH] for row in downloading}
            most_downloading = max(most_downloading, len(now_downloading & last_downloading))
            last_downloading = now_downloading
            reading = "%s | %s" % (button["caption"], " | ".join(
                "%s %s%%" % (row[PATH].split("\\")[-1], row[PROGRESS] or "0") for row in rows))
            if reading != last:
                print("demo: %4.1f s  %s" % (time.monotonic() - started, reading))
                last = reading
            # The screenshot shows as much as one moment can: a file done, two downloading part-way,
            # one still waiting; it is taken again whenever a reading shows more than the last one.
            partway = [row for row in downloading if row[PROGRESS] not in ("", "0", "100")]
            score = len({row[STATUS] for row in rows} & {DOWNLOADING, SUCCEEDED, READY}) * 10 + len(partway)
            if partway and score > shot_score and screenshot(DOWNLOADS_SHOT, window["frame"]):
                shot_score = score
                shot = reading
            if button["caption"] == CAPTION_DONE:
                break
        answer = probe(self.env, "notice", "--pid", pid, "--wait", "30000") if self.updater.poll() is None else {}
        if answer.get("found"):
            notice = answer["notice"]
            time.sleep(0.5)  # let it paint
            if screenshot(NOTICE_SHOT, notice["window"]["frame"], margin=0):
                print("demo: screenshot of the notice saved to %s" % NOTICE_SHOT)
            print("demo: %4.1f s  notice \"%s\" / \"%s\"" % (
                time.monotonic() - started, notice["mainInstruction"], notice["content"]))
            grid = probe(self.env, "grid", "--pid", pid).get("grid")
            for row in grid["rows"] if grid else []:
                print("   " + describe_row(row))
            if shot:
                print("demo: screenshot of the downloads (%s) saved to %s" % (shot, DOWNLOADS_SHOT))
            self.check(shot is not None, "no screenshot of downloads in progress")
            self.check(most_downloading <= 2, "%d rows were downloading at once" % most_downloading)
            return notice
        if started is None and not self.drive:
            print("demo: the window was closed before the downloads started")
        else:
            self.check(False, "the updater ended (exit code %s) without the success notice" % self.updater.poll())
        return None

    def answer(self, notice):
        self.check(notice["mainInstruction"] == "更新完成" and notice["content"] == "[确定]运行软件 [取消]退出更新",
                   "the notice is not the success question: %s / %s" % (notice["mainInstruction"], notice["content"]))
        # The files are in place before the question is answered.
        self.replaced = [path for path in self.stale
                         if md5_of_file(local_path(self.run_dir, path)) == hashlib.md5(self.release[path]).hexdigest()]
        self.leftovers = [os.path.join(root, name) for root, _, names in os.walk(self.run_dir) for name in names
                          if name.endswith(".velmora-part")]
        self.old_ended = self.old_process.poll() is not None
        if self.drive:
            time.sleep(1)  # the notice is on screen for a moment
            probe(self.env, "notice-press", str(IDOK), "--pid", str(notice["window"]["pid"]))
            print("demo: answered the notice with OK (运行软件)")
        else:
            print("demo: answer the notice: OK starts the new Velmora.exe")

    def finish(self):
        """Waits for the updater's end, prints the summary; returns the exit code of the demo."""
        try:
            code = self.updater.wait(timeout=60 if self.drive else None)
        except subprocess.TimeoutExpired:
            end(self.updater)
            code = None
            self.check(False, "the updater did not end after the notice")
        print("demo: velmora-update.exe exited with code %s" % code)
        self.check(code == 0, "the updater's exit code is %s" % code)
        print("demo: requests through the proxy: " + (", ".join(self.proxy.request_lines()) or "none"))
        replaced = getattr(self, "replaced", None)
        if replaced is None:
            print("demo: SUMMARY: no update took place")
            if self.problems:
                print("demo: FAILED: " + "; ".join(self.problems))
            return 1 if self.drive or self.problems else 0

        new_starts = wait_for(lambda: [s for s in starts_of(self.product) if s["pid"] != self.old_start["pid"]],
                              timeout=20 if self.drive else 5)
        new_md5 = hashlib.md5(self.release["\\Velmora.exe"]).hexdigest()
        product_is_new = md5_of_file(self.product) == new_md5
        self.check(replaced == self.stale, "not replaced: %s" % [p for p in self.stale if p not in replaced])
        self.check(not self.leftovers, "staging files left: %s" % self.leftovers)
        self.check(self.old_ended, "the running old Velmora.exe was not ended")
        self.check(product_is_new, "Velmora.exe is not the release's")
        if self.drive:
            self.check(len(new_starts) == 1 and new_starts[0]["arguments"] == [],
                       "starts of Velmora.exe after the update: %s" % new_starts)
        for record in starts_of(self.product):
            print("demo: %s.starts.txt: %s" % (os.path.basename(self.product), json.dumps(record, ensure_ascii=False)))

        print("demo: SUMMARY: replaced %d of %d stale files (%s; MD5 as in the release); the running old "
              "Velmora.exe (pid %d) was %s; %s; velmora-update.exe exited with code %s"
              % (len(replaced), len(self.stale), ", ".join(replaced) or "none", self.old_start["pid"],
                 "ended by the updater" if self.old_ended else "NOT ended",
                 ("the new Velmora.exe (2.1.0) started (pid %d)" % new_starts[-1]["pid"]) if new_starts and product_is_new
                 else "the new Velmora.exe did NOT start", code))
        if self.problems:
            print("demo: FAILED: " + "; ".join(self.problems))
            return 1
        return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--drive", action="store_true",
                        help="press the start button and answer the notice (nobody is at the display)")
    sys.exit(Demo(parser.parse_args()).run())


if __name__ == "__main__":
    main()
