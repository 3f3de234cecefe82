"""--quiet under Wine, as a scheduled task runs it: no window and no task dialog at any moment, an
end by itself, and the exit code and the log saying what happened. A stale release goes in whole
(1) and the product is started only with --run; up to date is 0; a second copy started while one is
busy does nothing (5) and leaves the first alone. The log rotates at 1 MiB, and a log that cannot be
written does not stop an update."""

import os
import unittest

from managed_support import ANOTHER_COPY, UP_TO_DATE, UPDATED, ManagedTestCase, e2e, file_server, run_log


class QuietRunsTest(ManagedTestCase):
    def release(self, run_dir, old_product, new_product, slow=False):
        """The product's executable, a skin in a folder whose name has Chinese characters and a space,
        a data file (dripped for a few seconds with `slow`) and a file the release adds."""
        data_options = dict(behaviour=file_server.DRIP, step=16 * 1024, interval=0.25) if slow else {}
        return [
            self.entry(run_dir, "\\Velmora.exe", new_product, old=old_product),
            self.entry(run_dir, "\\Bin\\界面 资源\\皮肤 蓝色.dat", "新皮肤".encode("gbk") * 3000, old=b"old skin"),
            self.entry(run_dir, "\\Data\\table.pak", file_server.Pattern(160 * 1024).bytes(), old=b"old table",
                       **data_options),
            self.entry(run_dir, "\\Bin\\Plugins\\新增.dat", b"added by the release" * 100),
        ]

    def test_a_stale_release_goes_in_quietly_and_the_product_starts_only_with_run(self):
        run_dir = self.make_run_directory()
        product, old_product = e2e.install_stand_in(run_dir.path, trailer=b"release 1")
        _, new_product = e2e.install_stand_in(self.other_folder(), "new.bin", trailer=b"release 2")
        entries = self.release(run_dir, old_product, new_product, slow=True)
        self.hand_off(run_dir, entries)

        run = self.run_updater(run_dir, "--quiet", "--handoff")
        self.assert_exit(run, UPDATED)
        self.assert_nothing_shown(run)
        self.assertEqual(run.output, b"updated\n", "a quiet run names its outcome on standard output")
        self.assert_wholly(entries, "new")
        self.assert_no_leftovers(run_dir)
        self.assert_kept(run_dir, entries)
        self.assertEqual(e2e.commit_state_left(run_dir.path), [])
        self.assertEqual(e2e.stand_in_starts(product), [], "the product was started without --run")
        lines = self.assert_logged(run, "quiet", [e["path"] for e in entries], manifest=True)
        for entry in entries:
            self.assert_row_line(lines, entry["path"], len(entry["new"]), 200)

        # Nothing left to do: 0, and not one request.
        since = len(self.server.requests())
        self.hand_off(run_dir, entries)
        run = self.run_updater(run_dir, "--quiet", "--from-product")  # an unknown word also selects the hand-off file
        self.assert_exit(run, UP_TO_DATE)
        self.assertEqual(run.output, b"up to date\n")
        self.assert_nothing_shown(run)
        self.assertEqual(self.requests_since(since), [])
        self.assert_logged(run, "quiet", manifest=True)
        self.assertEqual(e2e.stand_in_starts(product), [])

        # The next release with --run: installed, then the new product started once.
        _, newer_product = e2e.install_stand_in(self.other_folder(), "newer.bin", trailer=b"release 3")
        next_release = [self.entry(run_dir, "\\Velmora.exe", newer_product, route="/v3/Velmora.exe"),
                        self.entry(run_dir, "\\Bin\\界面 资源\\皮肤 蓝色.dat", "皮肤三".encode("gbk") * 2000,
                                   route="/v3/skin.dat")]
        for entry, previous in zip(next_release, entries):
            entry["old"] = previous["new"]
        self.hand_off(run_dir, next_release)
        run = self.run_updater(run_dir, "--quiet", "--handoff", "--run")
        self.assert_exit(run, UPDATED)
        self.assert_nothing_shown(run)
        self.assert_wholly(next_release, "new")
        starts = self.wine.wait_for(lambda: e2e.stand_in_starts(product), timeout=30,
                                    message="the product's start record")
        self.assertEqual(len(starts), 1, starts)
        self.assertEqual(starts[0]["path"].lower(), e2e.windows_path(product).lower())
        self.assert_logged(run, "quiet", [e["path"] for e in next_release], manifest=True)

    def test_a_product_that_crashes_within_health_seconds_has_its_release_rolled_back(self):
        run_dir = self.make_run_directory()
        product, old_product = e2e.install_stand_in(run_dir.path, trailer=b"release 1")
        _, new_product = e2e.install_stand_in(self.other_folder(), "new.bin", trailer=b"release 2")
        entries = self.release(run_dir, old_product, new_product)
        entries.append(self.entry(run_dir, "\\Velmora.exe.crash", b"crash on start"))  # the stand-in's flag
        self.hand_off(run_dir, entries, members={"healthSeconds": 60})
        run = self.run_updater(run_dir, "--quiet", "--handoff", "--run")
        self.assert_exit(run, 28)
        self.assertEqual(run.output, b"rolled back, the new release failed its health check\n")
        self.assert_wholly(entries, "old")
        self.wine.wait_for(lambda: e2e.stand_in_starts(product)[1:], timeout=30, message="the old product's start")
        self.assertEqual(len(e2e.stand_in_starts(product)), 2, "the new product once, then the old one")
        lines = self.assert_logged(run, "quiet", [e["path"] for e in entries], manifest=True)
        self.assertTrue(run_log.lines_naming(lines, "0xC0000005", "health check"), run_log.describe(lines))
        self.hand_off(run_dir, entries, members={"healthSeconds": 60})
        self.assert_exit(self.run_updater(run_dir, "--quiet", "--handoff", "--run"), UP_TO_DATE)
        self.assert_wholly(entries, "old")
        # The next release, whose product exits normally at once: it stays.
        self.hand_off(run_dir, entries[:-1], members={"healthSeconds": 60})
        self.assert_exit(self.run_updater(run_dir, "--quiet", "--handoff", "--run"), UPDATED)
        self.assert_wholly(entries[:-1], "new")
        self.assertEqual(len(e2e.stand_in_starts(product)), 3)

    def test_a_second_copy_does_nothing_while_the_first_is_busy(self):
        run_dir = self.make_run_directory()
        # About eight seconds of downloading, at 16 KiB/s: well above the stall limit.
        slow = self.entry(run_dir, "\\Data\\slow.pak", file_server.Pattern(128 * 1024).bytes(), old=b"old slow",
                          behaviour=file_server.DRIP, step=8 * 1024, interval=0.5)
        other = self.entry(run_dir, "\\Bin\\core.dll", b"core 2" * 3000, old=b"core 1")
        entries = [slow, other]
        self.hand_off(run_dir, entries)
        first = self.start_run(run_dir, "--quiet", "--handoff")
        # Both files are asked for at once; the count below must not catch the first copy's second request.
        self.wine.wait_for(lambda: all(self.server.requests(e["route"]) for e in entries), timeout=60,
                           message="the first copy's requests for both files")
        self.assertIsNone(first.process.poll())

        # The first copy has consumed the hand-off file; the second must not touch a new one.
        written = self.hand_off(run_dir, entries)
        requests = len(self.server.requests())
        second = self.run_updater(run_dir, "--quiet", "--handoff", watch=False)
        self.assert_exit(second, ANOTHER_COPY)
        self.assertIsNone(first.process.poll(), "the second copy ended only after the first")
        self.assertEqual(len(self.server.requests()), requests, "the second copy made a request")
        self.assert_hand_off_kept(run_dir, written)

        run = self.finish_run(run_dir, first)
        self.assert_exit(run, UPDATED)
        self.assert_nothing_shown(run)
        self.assert_wholly(entries, "new")
        self.assertEqual(len(self.server.requests(slow["route"])), 1)
        # The two runs' lines interleave in the log; each run keeps its own identifier and ends with
        # its exit code.
        by_exit = {run_log.exit_code_of(lines): lines for lines in run.runs.values()}
        self.assertEqual(sorted(by_exit), [UPDATED, ANOTHER_COPY], run_log.describe(run.new_lines))
        self.assertFalse([line for line in by_exit[ANOTHER_COPY] if "manifest" in line.text.lower()],
                         f"the second copy looked at a manifest:\n{run_log.describe(by_exit[ANOTHER_COPY])}")

    def test_the_log_is_rotated_at_1_mib_and_a_log_that_cannot_be_written_stops_nothing(self):
        run_dir = self.make_run_directory()
        entry = self.entry(run_dir, "\\Bin\\core.dll", b"core 2" * 3000, old=b"core 1")
        # An earlier, full log (valid lines of a run long ago) and an older rotated one.
        line = b"2025-01-02 03:04:05.678 -03:30 0badcafe row \\Bin\\old.dll: 1024 bytes, HTTP 200\n"
        full = line * ((1 << 20) // len(line) + 1)
        run_dir.write(e2e.UPDATE_LOG, full)
        run_dir.write(run_log.ROTATED, b"the rotated log before\n")
        self.hand_off(run_dir, [entry])
        run = self.run_updater(run_dir, "--quiet", "--handoff")
        self.assert_exit(run, UPDATED)
        self.assert_logged(run, "quiet", [entry["path"]], manifest=True)
        # The full log went whole to update.log.1 (replacing the one there), which the new run's
        # first line may still have reached before the rotation; the new log is the new run's.
        rotated = run_log.log_bytes(run_dir, run_log.ROTATED)
        self.assertTrue(rotated.startswith(full), "the full log was not kept as update.log.1")
        current = run_log.parse(run_log.log_bytes(run_dir))
        self.assertTrue(current, "no new log was started")
        self.assertEqual({line.run for line in current}, {run.lines[0].run}, run_log.describe(current))
        self.assertLess(len(run_log.log_bytes(run_dir)), 1 << 20)

        # The log's place taken by a folder: the update still goes in.
        os.remove(run_log.log_path(run_dir))
        os.remove(run_log.log_path(run_dir, run_log.ROTATED))
        os.makedirs(run_log.log_path(run_dir))
        following = self.entry(run_dir, "\\Bin\\core.dll", b"core 3" * 3000, route="/v3/core.dll")
        following["old"] = entry["new"]
        self.hand_off(run_dir, [following])
        run = self.run_updater(run_dir, "--quiet", "--handoff")
        self.assert_exit(run, UPDATED)
        self.assert_nothing_shown(run)
        self.assert_wholly([following], "new")


if __name__ == "__main__":
    unittest.main()
