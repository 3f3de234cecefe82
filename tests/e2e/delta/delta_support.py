"""What the delta scenarios share: an older copy of the product and the release that replaces it,
published with the native velmora-release into the tree the test's server serves, and one update
of a run folder under Wine from the start button to the success notice.

The release (`RELEASE`) against the older copy (`OLDER`):
  CHANGED  6 MiB of records, with bytes inserted near its start, one region rewritten and small
           edits spread over the whole file (so that its missing chunks are far more ranges of the
           pack than one request of a server that refuses many carries); its name has Chinese
           characters and a space
  SOURCE   a file of 768 KiB with one small edit; the older copy's bytes of it are now also
  MOVED    at a new path, which the older copy lacks: all its chunks are held, in SOURCE
  NEW      1.5 MiB that the older copy holds nothing of
  NOTES    a small changed file (fetched whole: no chunk index below 64 KiB)
and the stand-in product and a read-me, unchanged."""

import hashlib
import json
import os
import random
import shutil
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "release"))

import velmora_e2e as e2e  # noqa: E402
from release_site import MANIFEST_PATH, ReleaseSiteTestCase  # noqa: E402

TOOL = os.environ.get("VELMORA_RELEASE_TOOL", "")
KIB = 1024
MIB = 1024 * KIB

CHANGED = "Bin/界面 资源.pak"
SOURCE = "Data/skins.pak"
MOVED = "Data/新皮肤/skins moved.pak"
NEW = "Bin/新功能 数据.pak"
NOTES = "docs/说明.txt"
DELTA_FILES = (CHANGED, SOURCE, MOVED, NEW)  # the stale files of 64 KiB or more

_WORDS = [b"alpha", b"bravo", b"canvas", b"delta", b"engine", b"filter", b"glyph", b"handle", b"index", b"joint",
          b"kernel", b"layer", b"mesh", b"node", b"offset", b"pixel", b"query", b"render", b"shader", b"texture"]


def records(size, seed):
    """`size` bytes of text records: repetitive in form (they deflate to about a third), not in
    content (no two stretches of a chunk's length are alike)."""
    rng = random.Random(seed)
    lines = []
    total = 0
    number = seed * 1000003
    while total < size:
        number += rng.randint(1, 9)
        line = b"%09d %s.%s=%d;%0.5f;%08x\n" % (number, rng.choice(_WORDS), rng.choice(_WORDS), rng.randint(0, 99999),
                                                rng.random(), rng.getrandbits(32))
        lines.append(line)
        total += len(line)
    return b"".join(lines)[:size]


def _changed(old):
    data = bytearray(old)
    # Small edits every 160 KiB: each changes one chunk or two.
    for offset in range(200 * KIB, len(data) - 64, 160 * KIB):
        data[offset:offset + 48] = records(48, offset)
    data[3 * MIB:3 * MIB + 96 * KIB] = records(96 * KIB, 9)   # one region rewritten
    data[5000:5000] = records(1000, 8)                         # bytes inserted near the start
    return bytes(data)


def _releases():
    with open(e2e.STAND_IN, "rb") as source:
        product = source.read() + b"\0Velmora 2.0\0"
    changed_old = records(6 * MIB, 1)
    source_old = records(768 * KIB, 2)
    source_new = bytearray(source_old)
    source_new[300 * KIB:300 * KIB + 200] = records(200, 3)
    older = {
        "Velmora.exe": product,
        "readme.txt": b"Velmora - read me\n",
        NOTES: "旧版本说明\n".encode("utf-8") * 40,
        CHANGED: changed_old,
        SOURCE: source_old,
    }
    release = {
        "Velmora.exe": product,
        "readme.txt": older["readme.txt"],
        NOTES: "新版本说明\n".encode("utf-8") * 50,
        CHANGED: _changed(changed_old),
        SOURCE: bytes(source_new),
        MOVED: source_old,
        NEW: records(3 * MIB // 2, 4),
    }
    return older, release


OLDER, RELEASE = _releases() if os.path.exists(e2e.STAND_IN) else ({}, {})
# A copy that holds none of the release's large files, nor any other file of 64 KiB or more.
SMALL_ONLY = {path: data for path, data in OLDER.items() if len(data) < 64 * KIB}


class ScreenshotBurst:
    """Screenshots of a window's frame, one after the other from its creation until stop(), so
    that the last one before a notice came up in front of the window can be kept: an update from a
    local server ends within a second or two, far quicker than the grid can be read under Wine."""

    def __init__(self, frame, work):
        self.frame = frame
        self.directory = os.path.join(work, "screenshots")
        os.makedirs(self.directory)
        self.taken = []
        self._stopping = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        while not self._stopping.is_set() and len(self.taken) < 2000:
            path = os.path.join(self.directory, "%04d.png" % len(self.taken))
            e2e.screenshot(path, self.frame)  # an absolute path: not below SCREENSHOT_DIR
            self.taken.append(path)

    def stop(self):
        self._stopping.set()
        self._thread.join(timeout=30)

    def save_last_without(self, notice_frame, name):
        """Saves as SCREENSHOT_DIR/name the last screenshot in which the notice at `notice_frame`
        was not up yet (its rectangle differs from a screenshot taken now), or one taken now when
        every one shows it already."""
        now = e2e.screenshot(os.path.join(self.directory, "now.png"), self.frame)
        margin = 8  # e2e.screenshot's around the frame
        x = notice_frame["x"] - max(self.frame["x"] - margin, 0)
        y = notice_frame["y"] - max(self.frame["y"] - margin, 0)
        area = notice_frame["width"] * notice_frame["height"]
        crop = "%dx%d+%d+%d" % (notice_frame["width"], notice_frame["height"], x, y)
        chosen = now
        for path in reversed(self.taken):
            compared = subprocess.run(["compare", "-metric", "AE", "-extract", crop, path, now, "null:"],
                                      capture_output=True, text=True, timeout=30)
            try:
                differing = float(compared.stderr.split()[0])
            except (IndexError, ValueError):
                continue
            if differing > area // 4:
                chosen = path
                break
        shutil.copyfile(chosen, os.path.join(e2e.SCREENSHOT_DIR, name))


def windows_path(relative):
    """"\\"-separated path of a release file, as the grid and the manifest show it."""
    return "\\" + relative.replace("/", "\\")


class DeltaTestCase(ReleaseSiteTestCase):
    """Publishes RELEASE into the served tree and updates copies of OLDER from it."""

    NEEDED = (e2e.STAND_IN, TOOL)

    def publish(self):
        """Publishes RELEASE with the native tool into `self.tree`; returns the manifest's entries
        by "/"-separated path and the published files' routes ("/files/<md5>/<name>") by path."""
        release_dir = os.path.join(self.work, "release")
        e2e.write_tree(release_dir, RELEASE)
        published = subprocess.run([TOOL, "publish", release_dir, self.tree, "--base-url", self.site.files_url,
                                    "--run", "Velmora.exe", "--quiet"], capture_output=True, text=True, timeout=120)
        self.assertEqual(published.returncode, 0, published.stdout + published.stderr)
        with open(os.path.join(self.tree, *MANIFEST_PATH.strip("/").split("/")), encoding="utf-8") as manifest:
            entries = json.load(manifest)["data"]
        by_path = {entry["path"].lstrip("\\").replace("\\", "/"): entry for entry in entries}
        self.assertEqual(sorted(by_path), sorted(RELEASE))
        routes = {path: "/files/%s/%s" % (hashlib.md5(data).hexdigest(), path.rsplit("/", 1)[-1])
                  for path, data in RELEASE.items()}
        # Every file of 64 KiB or more has a delta member naming its index and pack beside it.
        for path, data in RELEASE.items():
            self.assertEqual("delta" in by_path[path], len(data) >= 64 * KIB, path)
        return by_path, routes

    def older_copy(self, older=None):
        """A run folder holding the files of `older` (OLDER by default)."""
        run_dir = self.make_run_directory()
        for relative, data in (OLDER if older is None else older).items():
            run_dir.write(relative, data)
        return run_dir

    def run_update(self, run_dir, older=None, screenshot=None):
        """Starts the updater in `run_dir` (a copy of `older`, OLDER by default), checks the listed
        rows, presses the start button and waits for the notice; checks the rows and the notice,
        answers it with Cancel and waits for the updater to end. `screenshot`: a file name for the
        window once its rows have ended."""
        older = OLDER if older is None else older
        started = time.monotonic()
        updater = self.wine.start(run_dir.program)
        grid = self.wait_for_filled_grid(updater)
        stale = [windows_path(path) for path in sorted(RELEASE, key=windows_path) if older.get(path) != RELEASE[path]]
        self.assertEqual([row[e2e.COLUMN_PATH] for row in grid["rows"]], stale)

        burst = ScreenshotBurst(self.wine.probe("window")["window"]["frame"], self.work) if screenshot else None
        self.wine.probe("click-button")
        try:
            notice = self.wine.probe("notice", "--wait", "90000", timeout=120)["notice"]
        finally:
            if burst:
                burst.stop()
        rows = self.wine.probe("grid")["grid"]["rows"]
        if burst:
            burst.save_last_without(notice["window"]["frame"], screenshot)
        self.assertEqual((notice["mainInstruction"], notice["content"]), ("更新完成", "[确定]运行软件 [取消]退出更新"), rows)
        for row in rows:
            # Every row ends at its file's whole size, whether copied, fetched by parts or whole.
            self.assertEqual((row[e2e.COLUMN_STATUS], row[e2e.COLUMN_PROGRESS], row[e2e.COLUMN_DOWNLOADED]),
                             (e2e.STATUS_SUCCEEDED, "100", row[e2e.COLUMN_SIZE]), row)
        self.wine.probe("notice-press", str(e2e.IDCANCEL))
        self.assertEqual(self.wine.wait(updater, timeout=30), 0)
        print(f"\n{os.path.basename(run_dir.path)}: the update took {time.monotonic() - started:.1f} s", flush=True)
        return rows

    def check_installed(self, run_dir, older=None):
        """The run folder (a copy of `older`, OLDER by default) holds exactly the release's files,
        nothing staged is left, and the previous release keeps the old bytes of every file replaced."""
        older = OLDER if older is None else older
        installed = e2e.read_tree(run_dir.path)
        installed.pop("velmora-update.exe")
        installed = {path: data for path, data in installed.items() if not e2e.is_update_state(path)}
        self.assertEqual(sorted(installed), sorted(RELEASE))
        for path, data in RELEASE.items():
            self.assertTrue(installed[path] == data, f"{path} is not the release's file")
        self.assertEqual(e2e.staging_leftovers(run_dir.path), [])
        self.assertEqual(e2e.commit_state_left(run_dir.path), [])
        self.assertEqual(sorted(e2e.kept_files(run_dir.path)),
                         sorted(path for path, data in older.items() if RELEASE[path] != data))
