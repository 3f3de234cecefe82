"""Interrupted downloads under Wine, resumed by the next run: connections dropped at 0%, 50% and
99% (every transfer of the first run ends there, so its retry cannot finish either), a server that
ignores ranges, a file that changed on the server between the runs, and a window closed half way
(the next run finds the file at another address and resumes it there).
After each run every product file is its old or its new self."""

import time
import unittest

from faults_support import FaultsTestCase, e2e, file_server, ranges_asked

SIZE = 400 * 1024


def release(n):
    """Distinct file contents of about SIZE bytes."""
    return file_server.Pattern(SIZE + 7 * n).bytes()


class ResumeTest(FaultsTestCase):
    def test_drops_at_0_50_and_99_percent_resume_on_the_next_run(self):
        run_dir = self.make_run_directory()
        entries, drops = [], []
        for n, (name, percent) in enumerate((("zero", 0), ("half", 50), ("most", 99))):
            data = release(n)
            drops.append(len(data) * percent // 100)
            entries.append(self.entry(run_dir, f"\\Bin\\{name}.dat", data, old=b"old " + name.encode(),
                                      drop_at=drops[-1]))

        notice, rows = self.run_update(run_dir, entries)
        self.assertEqual([row[e2e.COLUMN_STATUS] for row in rows], [e2e.STATUS_READ_FAILED] * 3)
        self.assert_failure_notice(notice, 3)
        self.end_run(e2e.IDOK)
        self.assert_old_or_new(run_dir, entries)
        for entry, drop in zip(entries, drops):
            # The run resumed its dropped transfer once, from what had arrived.
            expected = [None, None] if drop == 0 else [None, f"bytes={drop}-"]
            self.assertEqual(ranges_asked(self.server, entry), expected, entry["path"])
            self.assertEqual(self.staged(entry), entry["new"][:drop] if drop else None, entry["path"])

        asked_before = [len(self.server.requests(entry["route"])) for entry in entries]
        for entry in entries:
            self.server.serve(entry["route"], entry["new"])
        notice, rows = self.run_update(run_dir, entries)
        self.assertEqual([row[e2e.COLUMN_STATUS] for row in rows], [e2e.STATUS_SUCCEEDED] * 3)
        self.assert_success_notice(notice)
        self.end_run()
        for entry, drop, since in zip(entries, drops, asked_before):
            self.assertEqual(ranges_asked(self.server, entry, since), [f"bytes={drop}-" if drop else None],
                             entry["path"])
            self.assertEqual(self.content(entry["local"]), entry["new"], entry["path"])
        self.assert_old_or_new(run_dir, entries, pending=False)

    def test_a_server_that_ignores_ranges_and_a_file_that_changed_between_runs(self):
        run_dir = self.make_run_directory()
        ignoring = self.entry(run_dir, "\\ignores.dat", release(1), old=b"old ignores", ranges=False,
                              drop_at=SIZE // 2)
        changing = self.entry(run_dir, "\\changes.dat", release(2), old=b"old changes", drop_at=SIZE // 2)
        notice, rows = self.run_update(run_dir, [ignoring, changing])
        self.assertEqual([row[e2e.COLUMN_STATUS] for row in rows], [e2e.STATUS_READ_FAILED] * 2)
        self.end_run(e2e.IDOK)
        # Asked to resume, the server sent the whole file again: the run restarted from zero.
        self.assertEqual(ranges_asked(self.server, ignoring), [None, f"bytes={SIZE // 2}-", None])
        self.assertEqual(self.staged(ignoring), ignoring["new"][:SIZE // 2])
        self.assertEqual(self.staged(changing), changing["new"][:SIZE // 2])
        self.assert_old_or_new(run_dir, [ignoring, changing])

        since = [len(self.server.requests(e["route"])) for e in (ignoring, changing)]
        self.server.serve(ignoring["route"], ignoring["new"], ranges=False)
        changed = self.entry(run_dir, "\\changes.dat", release(3), route=changing["route"])
        changed["old"] = changing["old"]
        notice, rows = self.run_update(run_dir, [ignoring, changed])
        self.assertEqual([row[e2e.COLUMN_STATUS] for row in rows], [e2e.STATUS_SUCCEEDED] * 2)
        self.end_run()
        self.assertEqual(ranges_asked(self.server, ignoring, since[0]), [f"bytes={SIZE // 2}-", None])
        # The staging file of the old release was not resumed: the new file came whole.
        self.assertEqual(ranges_asked(self.server, changed, since[1]), [None])
        self.assertEqual(self.content(ignoring["local"]), ignoring["new"])
        self.assertEqual(self.content(changed["local"]), changed["new"])
        self.assert_old_or_new(run_dir, [ignoring, changed], pending=False)

    def test_a_window_closed_half_way_resumes_on_the_next_run(self):
        run_dir = self.make_run_directory()
        large = self.entry(run_dir, "\\Bin\\large.pak", file_server.Pattern(3 << 20).bytes(), old=b"old large",
                           behaviour=file_server.DRIP, step=64 * 1024, interval=0.05)
        self.start_updater(run_dir, [large])
        self.press_start()

        def half_way():
            staged = self.staged(large)
            return staged is not None and len(staged) >= len(large["new"]) // 3

        self.wine.wait_for(half_way, timeout=60, interval=0.1, message="a third of the file staged")
        self.wine.probe("close", "--pid", self.updater_pid)
        self.assertEqual(self.wine.wait(self.updater, timeout=20), 0)
        staged = len(self.staged(large) or b"")
        self.assertGreater(staged, 0)
        self.assert_old_or_new(run_dir, [large])

        # The next run finds the same file at another address (a mirror): it resumes all the same.
        moved = dict(large, route="/mirror/large.pak")
        moved["url"] = self.server.url(moved["route"])
        self.server.serve(moved["route"], large["new"])
        since = 0
        large = moved
        started = time.monotonic()
        notice, rows = self.run_update(run_dir, [large])
        self.assertEqual(rows[0][e2e.COLUMN_STATUS], e2e.STATUS_SUCCEEDED)
        self.end_run()
        print(f"\nclosed with {staged} of {len(large['new'])} bytes staged; the next run took "
              f"{time.monotonic() - started:.1f} s")
        self.assertEqual(ranges_asked(self.server, large, since), [f"bytes={staged}-"])
        self.assertEqual(self.content(large["local"]), large["new"])
        self.assert_old_or_new(run_dir, [large], pending=False)


if __name__ == "__main__":
    unittest.main()
