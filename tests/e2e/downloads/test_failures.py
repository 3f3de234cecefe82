"""Downloads that fail under Wine, and closing the window while downloads run: every failure has its
status, the notice counts the failed files, and since a release goes in whole or not at all no
product file is touched, not even one whose row succeeded. The only staging files left are the
beginnings of interrupted downloads and the whole, verified files of the rows that succeeded, for
the next run."""

import os
import time
import unittest

from downloads_support import DownloadsTestCase, LateAnswerServer, e2e, file_server


class FailedDownloadsTest(DownloadsTestCase):
    def test_failures_keep_the_old_files_and_are_counted(self):
        run_dir = self.make_run_directory()
        new = file_server.Pattern(300 * 1024).bytes()
        missing = self.entry(run_dir, "\\Bin\\missing.dll", None, old=b"old missing", md5="1" * 32,
                             route="/files/missing.dll")
        cut = self.entry(run_dir, "\\Bin\\cut.dll", new, old=b"old cut", behaviour=file_server.DROP, cut=100 * 1024)
        # Served bytes whose digest is not the manifest's.
        wrong = self.entry(run_dir, "\\Bin\\wrong.dll", new, old=b"old wrong", md5=e2e.md5_hex(b"another file"))
        no_length = self.entry(run_dir, "\\Bin\\no-length.dll", new[:50000], old=b"old no length",
                               behaviour=file_server.NO_LENGTH, chunked=True)
        good = self.entry(run_dir, "\\Bin\\good.dll", new[:4096], old=b"old good")
        entries = [missing, cut, wrong, no_length, good]

        self.start_updater(run_dir, entries)
        notice, snapshots = self.watch(self.press_start(), timeout=90)
        final = snapshots[-1].rows
        self.assertEqual([row[e2e.COLUMN_STATUS] for row in final],
                         [e2e.STATUS_BAD_ADDRESS, e2e.STATUS_READ_FAILED, e2e.STATUS_DIGEST_MISMATCH, "网页文件为空",
                          e2e.STATUS_SUCCEEDED])
        # The address was tried twice: the streamed request and the whole-resource fallback.
        self.assertGreaterEqual(len(self.server.requests("/files/missing.dll")), 2)
        self.assertEqual(self.caption(), "更新完成")
        self.assertEqual(notice["mainInstruction"], "更新完成")
        self.assertEqual(notice["content"], "有4个文件下载失败")
        self.assertEqual([b["id"] for b in notice["buttons"] if not b["checkBox"]], [e2e.IDOK])

        # The good file arrived and was verified, but four rows failed: nothing is put in place.
        self.assert_untouched(entries)
        self.assertEqual(e2e.commit_state_left(run_dir.path), [])
        self.assertFalse(os.path.exists(e2e.local_path(run_dir.path, e2e.KEPT_RELEASE)),
                         "an update that installed nothing keeps a previous release")
        # The cut file was tried once more within the run (this server cannot resume, so from zero)
        # and cut again: what arrived stays staged for the next run, and so does the good file, whole.
        self.assertEqual(sorted(e2e.staging_leftovers(run_dir.path)),
                         sorted([e2e.staging_path(cut), e2e.staging_path(good)]))
        self.assertEqual(self.content(e2e.staging_path(cut)), new[:100 * 1024])
        self.assertEqual(self.content(e2e.staging_path(good)), good["new"])
        self.press_notice(e2e.IDOK)
        self.assertEqual(self.wine.wait(self.updater, timeout=30), 0)
        self.assertEqual(e2e.stand_in_starts(os.path.join(run_dir.path, "Velmora.exe")), [])

    def test_two_rows_for_one_file_never_leave_a_mixture_in_place(self):
        # A manifest that lists one file twice (the same path, or the same path in other letter
        # case). Row 1 arrives slowly; row 2's answer comes a second later and fast, while row 1
        # is still writing. Whatever the outcome, the file in place must be the old one or the
        # whole download of a row reported as a success; when a row failed, the old one.
        run_dir = self.make_run_directory()
        size = 640 * 1024
        first = file_server.Pattern(size).bytes()
        second = bytes(reversed(first))
        late = LateAnswerServer(second, delay=1.0)
        self.addCleanup(late.stop)
        row1 = self.entry(run_dir, "\\Bin\\twice.dat", first, old=b"old twice", behaviour=file_server.DRIP,
                          step=32 * 1024, interval=0.1)
        row2 = dict(row1, url=late.url("/twice.dat"), md5=e2e.md5_hex(second), new=second)
        self.start_updater(run_dir, [row1, row2])
        notice, snapshots = self.watch(self.press_start(), timeout=60)
        statuses = snapshots[-1].statuses()
        in_place = self.content(row1["local"])
        which = {first: "row 1's download", second: "row 2's download", row1["old"]: "the old file"}.get(
            in_place, "a mixture of both downloads")
        if which.startswith("a mixture"):
            same = [sum(1 for a, b in zip(in_place[i:i + 1024], source[i:i + 1024]) if a == b) > 900
                    for source in (first, second) for i in (0, size - 1024)]
            which += (f" ({len(in_place)} bytes; starts like row 1: {same[0]}, row 2: {same[2]}; "
                      f"ends like row 1: {same[1]}, row 2: {same[3]})")
        print(f"\nstatuses {statuses}; in place: {which}; notice: {notice['content']}")
        succeeded = [entry["new"] for entry, status in zip((row1, row2), statuses) if status == e2e.STATUS_SUCCEEDED]
        self.assertTrue(in_place in succeeded + [row1["old"]], f"statuses {statuses}; in place: {which}")
        self.assertEqual(e2e.commit_state_left(run_dir.path), [])
        if len(succeeded) == 2:
            self.assertEqual(notice["content"], "[确定]运行软件 [取消]退出更新")
            self.assert_no_leftovers(run_dir)
        else:
            self.assertEqual(in_place, row1["old"], f"statuses {statuses}: a row failed, yet {which} is in place")
            # A row that succeeded keeps its whole staged file, a failed one at most the beginning of
            # its file.
            rows = {e2e.staging_path(entry): (entry, status) for entry, status in zip((row1, row2), statuses)}
            for staged in e2e.staging_leftovers(run_dir.path):
                self.assertIn(staged, rows, f"statuses {statuses}")
                entry, status = rows[staged]
                data = self.content(staged)
                expected = entry["new"] if status == e2e.STATUS_SUCCEEDED else entry["new"][:len(data)]
                self.assertEqual(data, expected, f"statuses {statuses}: {staged}")
            for entry, status in zip((row1, row2), statuses):
                if status == e2e.STATUS_SUCCEEDED:
                    self.assertTrue(os.path.exists(e2e.staging_path(entry)), f"statuses {statuses}")

    def close_during_downloads(self, count):
        """Closes the window while `count` slow downloads run; returns the seconds from closing to
        the updater's end, after checking that it ended with code 0 and left the old files."""
        run_dir = self.make_run_directory()
        slow = dict(behaviour=file_server.DRIP, step=4096, interval=0.25)  # 16 KiB/s: minutes per file
        entries = [self.entry(run_dir, "\\Bin\\slow%d.dat" % n, file_server.Pattern(2 << 20).bytes(),
                              old=b"old slow %d" % n, **slow) for n in range(1, count + 1)]
        self.start_updater(run_dir, entries)
        started = self.press_start()

        def all_downloading():
            rows = self.probe_grid()["rows"]
            return all(row[e2e.COLUMN_STATUS] == e2e.STATUS_DOWNLOADING for row in rows)

        self.wine.wait_for(all_downloading, timeout=30, message="every row downloading")
        print(f"\n{count} rows downloading {time.monotonic() - started:.1f} s after the start button; "
              f"caption {self.caption()!r}")
        closing = time.monotonic()
        self.wine.probe("close", "--pid", self.updater_pid)
        try:
            code = self.wine.wait(self.updater, timeout=20)
        finally:
            seconds = time.monotonic() - closing
            print(f"closing to exit: {seconds:.1f} s; files replaced: "
                  f"{[e['path'] for e in entries if self.content(e['local']) != e['old']]}")
        self.assertEqual(code, 0)
        self.assert_untouched(entries)
        # What arrived is kept for the next run, and is the beginning of its file.
        for staged in e2e.staging_leftovers(run_dir.path):
            entry = next(e for e in entries if os.path.basename(staged).startswith(os.path.basename(e["local"]) + "."))
            data = self.content(staged)
            self.assertEqual(data, entry["new"][:len(data)], staged)
        return seconds

    def test_closing_the_window_during_one_download_ends_promptly(self):
        self.close_during_downloads(1)

    def test_closing_the_window_during_two_downloads_ends_promptly(self):
        # With two rows running, the start button's handler is still waiting for a free worker when
        # the window is closed.
        self.close_during_downloads(2)


if __name__ == "__main__":
    unittest.main()
