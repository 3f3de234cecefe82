"""The time limit under Wine: the only listed file arrives slower than 1 KiB/s, so every completion
tick counts as stalled, and after 120 ticks (about 60 s) the update ends with the notice
"更新失败，连接超时". The old file is kept, and the next run resumes from what arrived."""

import unittest

from downloads_support import DownloadsTestCase, e2e, file_server

TICKS_PER_FILE = 120
TICK_SECONDS = 0.5


class TimeOutTest(DownloadsTestCase):
    def test_a_file_arriving_slower_than_a_kibibyte_a_second_times_out(self):
        run_dir = self.make_run_directory()
        # 100 bytes every 2 s: the connection is never idle for long, but far below 1 KiB/s.
        slow = self.entry(run_dir, "\\Bin\\slow.dat", file_server.Pattern(20000).bytes(), old=b"old slow",
                          behaviour=file_server.DRIP, step=100, interval=2.0)
        self.start_updater(run_dir, [slow])
        started = self.press_start()
        notice, snapshots = self.watch(started, timeout=100)
        seconds = snapshots[-1].seconds
        statuses = []
        for snapshot in snapshots:
            if not statuses or statuses[-1][1] != snapshot.statuses()[0]:
                statuses.append((round(snapshot.seconds, 1), snapshot.statuses()[0]))
        print(f"\nnotice after {seconds:.1f} s: {notice['mainInstruction']} / {notice['content']}; "
              f"row statuses over time: {statuses}")

        self.assertEqual((notice["mainInstruction"], notice["content"]), ("更新失败", "更新失败，连接超时"))
        self.assertEqual([b["id"] for b in notice["buttons"] if not b["checkBox"]], [e2e.IDOK])
        # Not before the ticks of the limit have passed (generous: the timer may run late, never early).
        self.assertGreaterEqual(seconds, TICKS_PER_FILE * TICK_SECONDS - 5)
        self.assert_untouched([slow])
        self.press_notice(e2e.IDOK)
        self.assertEqual(self.wine.wait(self.updater, timeout=30), 0)
        self.assert_untouched([slow])

        # What arrived before the time limit stays staged, and the next run resumes from it.
        [staged] = e2e.staging_leftovers(run_dir.path)
        arrived = len(self.content(staged))
        self.assertGreater(arrived, 0)
        self.assertEqual(self.content(staged), slow["new"][:arrived])
        asked = len(self.server.requests(slow["route"]))
        self.server.serve(slow["route"], slow["new"])
        self.start_updater(run_dir, [slow])
        notice, snapshots = self.watch(self.press_start(), timeout=60)
        self.assertEqual(snapshots[-1].statuses(), [e2e.STATUS_SUCCEEDED])
        self.assertEqual([r.header("Range") for r in self.server.requests(slow["route"])[asked:]], [f"bytes={arrived}-"])
        self.press_notice(e2e.IDCANCEL)
        self.assertEqual(self.wine.wait(self.updater, timeout=30), 0)
        self.assertEqual(self.content(slow["local"]), slow["new"])
        self.assert_no_leftovers(run_dir)


if __name__ == "__main__":
    unittest.main()
