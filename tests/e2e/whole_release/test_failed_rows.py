"""A release goes in whole or not at all, under Wine. One file of five answers 404: the other rows
succeed, yet nothing is put in place and their verified files wait whole under their staging names;
with the server fixed the next run asks for that file alone (a staged file spoiled in between is
fetched again, never installed) and installs the release, keeping the previous one, which a later
release that fails leaves as it is and one that goes in replaces. A file that a
program which cannot be ended opens after its row succeeded: the release cannot go in, that row
says so, every file stays old; once the file is free the next run installs without a single
request."""

import os
import shutil
import tempfile
import time
import unittest

from whole_release_support import WholeReleaseTestCase, e2e, file_server, push_buttons

HOLD_SECONDS = "120"


class FailedRowsTest(WholeReleaseTestCase):
    def test_a_404_installs_nothing_and_the_next_run_fetches_only_what_failed(self):
        run_dir = self.make_run_directory()
        core = self.entry(run_dir, "\\Bin\\core.dll", file_server.Pattern(120 * 1024).bytes(), old=b"old core")
        skin = self.entry(run_dir, "\\Bin\\界面资源\\皮肤 蓝色.dat", "新皮肤".encode("gbk") * 2000, old=b"old skin")
        # 404 now; served once the test fixes the server.
        table = self.entry(run_dir, "\\Data\\table.bin", None, old=b"old table", md5=e2e.md5_hex(b"new table" * 999))
        table["new"] = b"new table" * 999
        self.server.serve(table["route"], b"no such file", status=404)
        # A file the release adds, in a folder that does not exist yet.
        added = self.entry(run_dir, "\\Bin\\Plugins\\新增\\added.dat", file_server.Pattern(9000).bytes())
        readme = self.entry(run_dir, "\\readme.txt", b"Velmora, new release\r\n" * 40, old=b"Velmora, old")
        entries = [core, skin, table, added, readme]

        notice, rows = self.run_update(run_dir, entries)
        self.assertEqual([row[e2e.COLUMN_STATUS] for row in rows],
                         [e2e.STATUS_SUCCEEDED, e2e.STATUS_SUCCEEDED, e2e.STATUS_BAD_ADDRESS, e2e.STATUS_SUCCEEDED,
                          e2e.STATUS_SUCCEEDED])
        self.assert_failure_notice(notice, 1)
        self.end_run(e2e.IDOK)
        self.assert_wholly(entries, "old")
        succeeded = [core, skin, added, readme]
        self.assert_staged_whole(succeeded)
        self.assertIsNone(self.staged(table))
        self.assertEqual(sorted(e2e.staging_leftovers(run_dir.path)), sorted(map(e2e.staging_path, succeeded)))
        self.assertEqual(e2e.commit_state_left(run_dir.path), [])
        self.assertFalse(os.path.exists(e2e.local_path(run_dir.path, e2e.KEPT_RELEASE)),
                         "a run that installed nothing keeps a previous release")
        self.assert_old_or_new(run_dir, entries)

        # Between the runs a staged file is spoiled (same length, one byte changed): it must be
        # checked again, not trusted for being whole.
        spoiled = bytearray(readme["new"])
        spoiled[100] ^= 0xFF
        os.makedirs(os.path.dirname(e2e.staging_path(readme)), exist_ok=True)
        with open(e2e.staging_path(readme), "wb") as out:
            out.write(spoiled)

        self.server.serve(table["route"], table["new"])
        since = len(self.server.requests())
        notice, rows = self.run_update(run_dir, entries)
        self.assertEqual([row[e2e.COLUMN_STATUS] for row in rows], [e2e.STATUS_SUCCEEDED] * len(entries))
        self.assert_success_notice(notice)
        self.end_run()
        asked = self.requests_since(since)
        print(f"\nthe second run asked for {[(r.path, r.header('Range')) for r in self.server.requests()[since:]]}")
        # The verified staged files cost no request; the failed file and the spoiled one are fetched.
        self.assertEqual(sorted(set(asked)), sorted([table["route"], readme["route"]]), asked)
        self.assertEqual(asked.count(table["route"]), 1, asked)
        self.assert_wholly(entries, "new")
        self.assert_no_leftovers(run_dir)
        self.assert_old_or_new(run_dir, entries, pending=False)
        self.assert_kept(run_dir, entries)
        self.assertTrue(os.path.isfile(e2e.local_path(run_dir.path, e2e.KEPT_RELEASE + "/release.txt")))
        kept = e2e.kept_files(run_dir.path)

        # The next release changes the library and adds a file, which answers 404: nothing goes in,
        # and the kept previous release is left as it was.
        core3 = self.entry(run_dir, "\\Bin\\core.dll", b"core 3.0" * 9000, route="/v3/core.dll")
        core3["old"] = core["new"]
        extra = self.entry(run_dir, "\\Bin\\extra.dll", None, md5=e2e.md5_hex(b"extra" * 700), route="/v3/extra.dll")
        extra["new"] = b"extra" * 700
        release3 = [core3, skin, table, added, readme, extra]
        notice, rows = self.run_update(run_dir, release3, listed=[core3, extra])
        self.assertEqual([row[e2e.COLUMN_STATUS] for row in rows], [e2e.STATUS_SUCCEEDED, e2e.STATUS_BAD_ADDRESS])
        self.assert_failure_notice(notice, 1)
        self.end_run(e2e.IDOK)
        self.assert_wholly([core3, extra], "old")
        self.assertEqual(e2e.kept_files(run_dir.path), kept, "a release that did not go in changed the kept one")

        # Fixed: it goes in, and the kept release is now its previous one alone (one generation).
        self.server.serve(extra["route"], extra["new"])
        since = len(self.server.requests())
        notice, rows = self.run_update(run_dir, release3, listed=[core3, extra])
        self.assert_success_notice(notice)
        self.end_run()
        self.assertEqual(self.requests_since(since), [extra["route"]])
        self.assert_wholly([core3, extra], "new")
        self.assertEqual(e2e.kept_files(run_dir.path), {"Bin/core.dll": core["new"]})
        self.assert_no_leftovers(run_dir)

    def test_a_file_held_when_the_release_goes_in_keeps_every_old_file(self):
        run_dir = self.make_run_directory()
        # The slow file keeps one worker busy for about ten seconds, while the held and the other
        # file finish on the second worker; then the held file is taken.
        slow = self.entry(run_dir, "\\Data\\slow.pak", file_server.Pattern(320 * 1024).bytes(), old=b"old slow",
                          behaviour=file_server.DRIP, step=16 * 1024, interval=0.5)
        held = self.entry(run_dir, "\\Bin\\Data\\held.dat", file_server.Pattern(20000).bytes(), old=b"old held")
        other = self.entry(run_dir, "\\Bin\\other.dll", b"new other" * 700, old=b"old other")
        entries = [slow, held, other]
        folder = tempfile.mkdtemp(prefix="velmora-other-", dir=os.path.dirname(e2e.WINDOWS_BUILD_DIR))
        self.addCleanup(shutil.rmtree, folder, True)
        holder_exe, _ = e2e.install_stand_in(folder, "Holder.exe")

        self.start_updater(run_dir, entries)
        started = self.press_start()

        def held_row_done():
            statuses = [row[e2e.COLUMN_STATUS] for row in self.probe_grid()["rows"]]
            return statuses if statuses[1:] == [e2e.STATUS_SUCCEEDED] * 2 else None

        self.wine.wait_for(held_row_done, timeout=30, message="the held and the other row done")
        holder = self.wine.start(holder_exe, "--hold-file", e2e.windows_path(held["local"]), HOLD_SECONDS)
        [record] = self.wine.wait_for(lambda: e2e.stand_in_starts(holder_exe), timeout=30,
                                      message="the holder's start record")
        self.assertTrue(record["held"], record)
        statuses = [row[e2e.COLUMN_STATUS] for row in self.probe_grid()["rows"]]
        print(f"\nthe file was taken {time.monotonic() - started:.1f} s after the start button; "
              f"statuses then {statuses}")
        self.assertEqual(statuses[0], e2e.STATUS_DOWNLOADING, "the slow row ended before the file was taken")

        notice, snapshots = self.watch(started, timeout=90)
        self.assertEqual(snapshots[-1].statuses(), [e2e.STATUS_SUCCEEDED, e2e.STATUS_LOCAL_FILE, e2e.STATUS_SUCCEEDED])
        self.assert_failure_notice(notice, 1)
        self.assertEqual(push_buttons(notice), [e2e.IDOK])
        self.end_run(e2e.IDOK)
        self.assertIsNone(holder.poll(), "the program holding the file was ended")
        self.assert_wholly(entries, "old")
        self.assert_staged_whole(entries)
        self.assertEqual(e2e.commit_state_left(run_dir.path), [])
        self.assertEqual(e2e.stand_in_starts(os.path.join(run_dir.path, "Velmora.exe")), [])

        # The file is free again: the next run finds every file staged and verified.
        self.wine.end(holder)
        since = len(self.server.requests())
        notice, rows = self.run_update(run_dir, entries)
        self.assertEqual([row[e2e.COLUMN_STATUS] for row in rows], [e2e.STATUS_SUCCEEDED] * 3)
        self.assert_success_notice(notice)
        self.end_run()
        self.assertEqual(self.requests_since(since), [])
        self.assert_wholly(entries, "new")
        self.assert_no_leftovers(run_dir)
        self.assert_old_or_new(run_dir, entries, pending=False)
        self.assert_kept(run_dir, entries)


if __name__ == "__main__":
    unittest.main()
