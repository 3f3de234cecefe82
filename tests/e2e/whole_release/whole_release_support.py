"""What the whole-release scenarios share: the fault scenarios' helpers, and the checks that a
release went in whole or not at all (every listed file old, or every one new), that verified staged
files wait whole for the next run, and a start of the updater followed until it settles: on its
filled grid, or on a notice (the update check's, or one of --rollback's dialogs)."""

import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "faults"))

from faults_support import FaultsTestCase, e2e, file_server, ranges_asked, staging_path  # noqa: E402,F401

NOTHING_TO_UPDATE = ("更新失败", "没有需要更新的文件")
ROLLBACK_MAIN = "恢复上一版本"
ROLLBACK_QUESTION = "[确定]恢复到上一版本 [取消]退出"
ROLLBACK_NOTHING_KEPT = "没有可恢复的版本"
ROLLED_BACK_MAIN = "已恢复上一版本"
ROLLED_BACK_QUESTION = "[确定]运行软件 [取消]退出"


def relative_path(entry):
    """The "/"-separated path of `entry`'s file relative to the run directory."""
    return entry["path"].lstrip("\\").replace("\\", "/")


def push_buttons(notice):
    return sorted(b["id"] for b in notice["buttons"] if not b["checkBox"])


class WholeReleaseTestCase(FaultsTestCase):
    def content_or_none(self, path):
        try:
            return self.content(path)
        except FileNotFoundError:
            return None

    def which_release(self, entries):
        """"old" when every entry's file holds its old bytes (is missing when it had none), "new"
        when every one holds its new bytes, otherwise a description of the mixture."""
        states = {}
        for entry in entries:
            data = self.content_or_none(entry["local"])
            state = "old" if data == entry["old"] else "new" if data == entry["new"] else (
                "missing" if data is None else f"{len(data)} other bytes")
            states.setdefault(state, []).append(entry["path"])
        if len(states) == 1 and next(iter(states)) in ("old", "new"):
            return next(iter(states))
        return "a mixture: " + "; ".join(f"{len(paths)} {state} (such as {paths[0]})" for state, paths in states.items())

    def assert_wholly(self, entries, which, message=""):
        self.assertEqual(self.which_release(entries), which, message)

    def assert_staged_whole(self, entries):
        """Each entry's verified file waits whole under its staging name."""
        for entry in entries:
            self.assertEqual(self.staged(entry), entry["new"], f"the staged {entry['path']}")

    def assert_kept(self, run_dir, entries):
        """The kept previous release holds the old bytes of every entry that had a file, and nothing
        of those the release added."""
        self.assertEqual(e2e.kept_files(run_dir.path),
                         {relative_path(e): e["old"] for e in entries if e["old"] is not None})

    def requests_since(self, since):
        """The decoded paths of the server's requests from request number `since` on."""
        return [request.path for request in self.server.requests()[since:]]

    # --- a start followed until it settles -----------------------------------------------------

    def start_until_settled(self, run_dir, *arguments, rows=-1, timeout=60):
        """Starts the updater of `run_dir` with `arguments` and waits until it shows a notice or its
        grid with the start button enabled (the update check has ended). Returns ("notice", the
        notice) or ("grid", the grid with its first `rows` rows: all with -1; reading a row costs a
        probe's round trip per cell); self.updater and self.updater_pid are the started program."""
        before = {w["pid"] for w in self.look("windows")["windows"]}
        self.updater = self.wine.start(run_dir.program, *arguments)
        self.updater_pid = None
        deadline = time.monotonic() + timeout
        while True:
            answer = self.look("notice")
            if answer.get("found"):
                self.updater_pid = str(answer["notice"]["window"]["pid"])
                return "notice", answer["notice"]
            windows = [w for w in self.look("windows")["windows"] if w["pid"] not in before]
            if windows:
                self.updater_pid = str(windows[0]["pid"])
                button = self.look("button", "--pid", self.updater_pid)
                if button.get("found") and button["button"]["enabled"]:
                    return "grid", self.grid_rows(0, rows)
            if self.updater.poll() is not None:
                self.fail(f"the updater ({' '.join(arguments)}) ended with code {self.updater.returncode} "
                          f"without a window or a notice")
            if time.monotonic() >= deadline:
                self.fail(f"the updater ({' '.join(arguments)}) showed neither a notice nor its filled grid "
                          f"within {timeout} s")
            time.sleep(0.2)

    def grid_rows(self, first=0, count=-1):
        """The updater's grid with `count` rows from row `first` on (all: -1), and its rowCount."""
        answer = self.look("grid", str(first), str(count), "--pid", self.updater_pid)
        if not answer.get("found"):
            raise e2e.ProbeError(f"the updater's grid is gone: {answer}")
        return answer["grid"]

    def wait_for_notice(self, timeout=120):
        """The updater's notice once it opens, without reading the grid in between (a reading of
        hundreds of rows takes seconds)."""
        def opened():
            notice = self.notice()
            if notice is None and self.updater.poll() is not None:
                self.fail(f"the updater ended with code {self.updater.returncode} without a notice")
            return notice
        return self.wine.wait_for(opened, timeout=timeout, interval=0.2, message="the updater's notice")

    def next_notice(self, previous, timeout=60):
        """The updater's notice once it is no longer `previous` (a notice dict): the next dialog."""
        def changed():
            if self.updater.poll() is not None:
                self.fail(f"the updater ended with code {self.updater.returncode} instead of showing "
                          f"another notice after {previous['content']!r}")
            notice = self.notice()
            if notice and (notice["window"]["handle"] != previous["window"]["handle"] or
                           (notice["mainInstruction"], notice["content"]) !=
                           (previous["mainInstruction"], previous["content"])):
                return notice
            return None
        return self.wine.wait_for(changed, timeout=timeout, interval=0.2, message="the next notice")

    def assert_notice(self, notice, main, content, buttons):
        self.assertEqual((notice["mainInstruction"], notice["content"]), (main, content))
        self.assertEqual(notice["window"]["title"], e2e.NOTICE_TITLE)
        self.assertEqual(push_buttons(notice), sorted(buttons))
