"""Files held by running programs under Wine: the running product holds its own executable, which is
listed for update (it is ended, replaced and started again after OK; a copy of the same name running
from another folder is left alone); a file that another program keeps open exclusively cannot be
replaced (five attempts at freeing it are shown, then the row fails and, the release going in whole
or not at all, every old file stays)."""

import os
import unittest

from downloads_support import DownloadsTestCase, e2e, file_server

HOLD_SECONDS = "90"


class HeldFilesTest(DownloadsTestCase):
    def test_the_running_product_is_ended_replaced_and_started_again(self):
        run_dir = self.make_run_directory()
        product, old_product = e2e.install_stand_in(run_dir.path, trailer=b"old release")
        _, new_product = e2e.install_stand_in(self.other_folder(), "new.bin", trailer=b"new release")
        helper, old_helper = e2e.install_stand_in(os.path.join(run_dir.path, "Bin"), "VelmoraHelper.exe",
                                                  trailer=b"old helper")
        entries = [
            self.entry(run_dir, "\\Velmora.exe", new_product, old=old_product),
            self.entry(run_dir, "\\Bin\\Velmora.dll", b"new library" * 300, old=b"old library"),
            # A second program of the product, also running: its worker frees it.
            self.entry(run_dir, "\\Bin\\VelmoraHelper.exe", new_product + b"helper", old=old_helper),
        ]
        running, running_start = self.start_stand_in(product, "--hold", HOLD_SECONDS)
        helper_running, _ = self.start_stand_in(helper, "--hold", HOLD_SECONDS)
        # The same executable name in another folder: not the file being replaced.
        other, _ = e2e.install_stand_in(self.other_folder(), trailer=b"old release")
        other_running, _ = self.start_stand_in(other, "--hold", HOLD_SECONDS)
        self.assertIsNone(running.poll())

        self.start_updater(run_dir, entries)
        notice, snapshots = self.watch(self.press_start(), timeout=90)
        for row in (0, 2):
            print(f"\nstatuses seen for {entries[row]['path']}: "
                  f"{sorted({s.statuses()[row] for s in snapshots})}", end="")
        self.assertEqual(notice["content"], "[确定]运行软件 [取消]退出更新",
                         [s.statuses() for s in snapshots[-1:]])
        self.assertEqual(snapshots[-1].statuses(), [e2e.STATUS_SUCCEEDED] * 3)
        self.assertIsNotNone(running.poll(), "the product running from the run directory was not ended")
        self.assertIsNotNone(helper_running.poll(), "the helper running from the run directory was not ended")
        self.assertIsNone(other_running.poll(), "the copy running from another folder was ended")
        for entry in entries:
            self.assertEqual(self.content(entry["local"]), entry["new"], entry["path"])
        # The previous release is kept: the old product, library and helper.
        self.assertEqual(e2e.kept_files(run_dir.path),
                         {e["path"].lstrip("\\").replace("\\", "/"): e["old"] for e in entries})
        self.assertEqual(e2e.commit_state_left(run_dir.path), [])

        self.press_notice(e2e.IDOK)
        self.assertEqual(self.wine.wait(self.updater, timeout=30), 0)
        starts = self.wine.wait_for(lambda: e2e.stand_in_starts(product)[1:], timeout=30,
                                    message="the new product's start record")
        self.assertEqual(len(starts), 1, starts)
        self.assertNotEqual(starts[0]["pid"], running_start["pid"])
        self.assertEqual(starts[0]["path"].lower(), e2e.windows_path(product).lower())
        self.assertEqual(starts[0]["arguments"], [])
        self.assertIsNone(other_running.poll(), "the copy running from another folder was ended")
        self.assert_no_leftovers(run_dir)

    def test_a_file_another_program_keeps_open_is_not_replaced(self):
        run_dir = self.make_run_directory()
        locked = self.entry(run_dir, "\\Bin\\Data\\locked.dat", b"new data " * 700, old=b"old data, held open",
                            behaviour=file_server.DRIP, step=2048, interval=1.0)
        free = self.entry(run_dir, "\\Bin\\Velmora.dll", b"new library" * 300, old=b"old library")
        holder_exe, _ = e2e.install_stand_in(self.other_folder(), "Holder.exe")
        holder, record = self.start_stand_in(holder_exe, "--hold-file", e2e.windows_path(locked["local"]),
                                             HOLD_SECONDS)
        self.assertTrue(record["held"], record)

        self.start_updater(run_dir, [locked, free])
        started = self.press_start()
        notice, snapshots = self.watch(started, timeout=90)
        seen = []
        for snapshot in snapshots:
            status = snapshot.statuses()[0]
            if status.startswith(e2e.STATUS_LOCKED_PREFIX) and status not in seen:
                seen.append(status)
                print(f"\n{snapshot.seconds:5.1f} s: {status}", end="")
        print(f"\nfinal statuses: {snapshots[-1].statuses()}")

        attempts = [e2e.STATUS_LOCKED_PREFIX + str(n) for n in range(1, 6)]
        self.assertTrue(seen, "no attempt at freeing the file was shown")
        self.assertEqual(seen, [a for a in attempts if a in seen], "attempts shown out of order")
        # Each attempt's status stands for half a second, which a reading of the grid from another
        # process can miss on a loaded machine; the log says how many attempts were made.
        with open(os.path.join(run_dir.path, "Bin", "Config", "update.log"), encoding="utf-8") as log:
            self.assertIn("still held after 5 attempts to free it", log.read())
        self.assertEqual(snapshots[-1].statuses(), [e2e.STATUS_LOCAL_FILE, e2e.STATUS_SUCCEEDED])
        self.assertEqual(notice["mainInstruction"], "更新完成")
        self.assertEqual(notice["content"], "有1个文件下载失败")
        self.assertEqual([b["id"] for b in notice["buttons"] if not b["checkBox"]], [e2e.IDOK])

        self.assertIsNone(holder.poll(), "the program holding the file was ended")
        self.assertEqual(self.content(locked["local"]), locked["old"])
        # The free file arrived, but one row failed: it stays staged, whole, and is not put in place.
        self.assertEqual(self.content(free["local"]), free["old"])
        self.assertEqual(e2e.staging_leftovers(run_dir.path), [e2e.staging_path(free)])
        self.assertEqual(self.content(e2e.staging_path(free)), free["new"])
        self.assertEqual(e2e.commit_state_left(run_dir.path), [])
        self.press_notice(e2e.IDOK)
        self.assertEqual(self.wine.wait(self.updater, timeout=30), 0)
        self.assertEqual(e2e.stand_in_starts(os.path.join(run_dir.path, "Velmora.exe")), [])


if __name__ == "__main__":
    unittest.main()
