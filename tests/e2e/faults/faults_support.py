"""What the fault scenarios share: one updater run driven to its notice and ended, the staging
file an entry's interrupted download leaves, and the check that a product folder holds nothing but
old or new files (and staging files that a later run can resume, and the update's own state below
Bin\\Config: the kept previous release, the log, and only while a commit runs its journal)."""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "downloads"))

from downloads_support import DownloadsTestCase, e2e, file_server  # noqa: E402,F401

HAND_OFF = os.path.join("Bin", "Config", "UP.data")
staging_path = e2e.staging_path


def ranges_asked(server, entry, since=0):
    """The Range header of each request for `entry`'s route from request number `since` on
    (None for a request without one)."""
    return [request.header("Range") for request in server.requests(entry["route"])[since:]]


class FaultsTestCase(DownloadsTestCase):
    def run_update(self, run_dir, entries, listed=None, timeout=90):
        """Starts the updater on `entries`, presses the start button and waits for the notice.
        Returns (notice, the grid's final rows)."""
        self.start_updater(run_dir, entries, listed=listed)
        notice, snapshots = self.watch(self.press_start(), timeout=timeout)
        return notice, snapshots[-1].rows

    def end_run(self, button=e2e.IDCANCEL):
        """Answers the notice with `button` (Cancel: the product is not started) and waits for the
        updater to end with code 0."""
        self.press_notice(button)
        self.assertEqual(self.wine.wait(self.updater, timeout=30), 0)

    def assert_success_notice(self, notice):
        self.assertEqual((notice["mainInstruction"], notice["content"]), ("更新完成", "[确定]运行软件 [取消]退出更新"))

    def assert_failure_notice(self, notice, failed):
        self.assertEqual((notice["mainInstruction"], notice["content"]), ("更新完成", f"有{failed}个文件下载失败"))

    def assert_old_or_new(self, run_dir, entries, pending=True):
        """Every entry's file holds its old bytes or its new bytes (or is missing when it had no
        old ones); nothing else is in the folder but the program, its configuration, the update's
        state below Bin\\Config and, when `pending`, staging files of the entries whose bytes begin
        the entry's new file. Without `pending` (a run that ended, or a start that recovered) no
        commit is left half done and the kept previous release holds only old files of entries."""
        if not pending:
            self.assert_settled(run_dir, entries)
        expected = {getattr(run_dir, "program_file", run_dir.program), os.path.join(run_dir.path, HAND_OFF)}
        for entry in entries:
            state = self.content(entry["local"]) if os.path.exists(entry["local"]) else None
            self.assertIn(state, (entry["old"], entry["new"]),
                          f"{entry['path']} is neither its old nor its new file "
                          f"({'missing' if state is None else len(state)} bytes)")
            expected.add(entry["local"])
        stagings = {staging_path(entry): entry for entry in entries}
        for root, _, names in os.walk(run_dir.path):
            for name in names:
                path = os.path.join(root, name)
                if path in expected or path.endswith(".starts.txt"):
                    continue
                if e2e.is_update_state(os.path.relpath(path, run_dir.path).replace(os.sep, "/")):
                    continue
                self.assertIn(path, stagings, f"a file that is no entry's: {path}")
                self.assertTrue(pending, f"a staging file is left: {path}")
                entry = stagings[path]
                staged = self.content(path)
                self.assertEqual(staged, entry["new"][:len(staged)],
                                 f"{path}: its {len(staged)} bytes are not the beginning of {entry['path']}")

    def assert_settled(self, run_dir, entries):
        """No journal and no half-made kept release are left; the log is UTF-8; every file of the kept
        previous release is the old file of an entry that had one."""
        self.assertEqual(e2e.commit_state_left(run_dir.path), [], "a commit was left half done")
        log = e2e.local_path(run_dir.path, e2e.UPDATE_LOG)
        if os.path.exists(log):
            self.content(log).decode("utf-8")
        old = {entry["path"].lstrip("\\").replace("\\", "/"): entry["old"] for entry in entries}
        for relative, data in e2e.kept_files(run_dir.path).items():
            self.assertIn(relative, old, f"a kept file that is no entry's: {relative}")
            self.assertIsNotNone(old[relative], f"{relative} was added by the release, yet kept")
            self.assertEqual(data, old[relative], f"the kept {relative} is not its old file")

    def staged(self, entry):
        """The bytes staged for `entry`, or None when it has no staging file."""
        path = staging_path(entry)
        return self.content(path) if os.path.exists(path) else None
