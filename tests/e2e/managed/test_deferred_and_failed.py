"""--quiet under Wine when the release cannot go in now. The product runs from the run directory and
holds its own executable, which the release replaces: the update is deferred (3), nothing is
installed, the product keeps running, and the verified downloads wait for the next run, which
installs them without a request once the product has ended. With --close-product the product is
ended and the release goes in (1). A file that answers 404 fails the run (4): nothing installed."""

import unittest

from managed_support import DEFERRED, FAILED, UPDATED, ManagedTestCase, e2e, file_server

HOLD_SECONDS = "120"


class DeferredAndFailedTest(ManagedTestCase):
    def release(self, run_dir, product_trailer=b"release 2"):
        """The product (a stand-in, installed in the run directory) and two more files; returns
        (the product's path, the entries)."""
        product, old_product = e2e.install_stand_in(run_dir.path, trailer=b"release 1")
        _, new_product = e2e.install_stand_in(self.other_folder(), "new.bin", trailer=product_trailer)
        entries = [
            self.entry(run_dir, "\\Velmora.exe", new_product, old=old_product),
            self.entry(run_dir, "\\Bin\\core.dll", file_server.Pattern(200 * 1024).bytes(), old=b"core 1"),
            self.entry(run_dir, "\\Bin\\界面\\皮肤 蓝色.dat", "皮肤二".encode("gbk") * 3000, old=b"skin 1"),
        ]
        return product, entries

    def test_a_running_product_defers_the_release_to_the_next_run(self):
        run_dir = self.make_run_directory()
        product, entries = self.release(run_dir)
        running, record = self.start_stand_in(product, "--hold", HOLD_SECONDS)
        self.hand_off(run_dir, entries)

        run = self.run_updater(run_dir, "--quiet", "--handoff")
        self.assert_exit(run, DEFERRED)
        self.assert_nothing_shown(run)
        self.assertIsNone(running.poll(), "the running product was ended without --close-product")
        self.assert_wholly(entries, "old")
        self.assert_staged_whole(entries)
        self.assertEqual(sorted(e2e.staging_leftovers(run_dir.path)), sorted(map(e2e.staging_path, entries)))
        self.assertEqual(e2e.commit_state_left(run_dir.path), [])
        lines = self.assert_logged(run, "quiet", [e["path"] for e in entries], manifest=True)
        for entry in entries:
            self.assert_row_line(lines, entry["path"], len(entry["new"]), 200)

        # The product has ended: the next run installs what waits, without a request.
        self.wine.end(running)
        since = len(self.server.requests())
        self.hand_off(run_dir, entries)
        run = self.run_updater(run_dir, "--quiet", "--handoff")
        self.assert_exit(run, UPDATED)
        self.assert_nothing_shown(run)
        self.assertEqual(self.requests_since(since), [], "the verified downloads were fetched again")
        self.assert_wholly(entries, "new")
        self.assert_no_leftovers(run_dir)
        self.assert_kept(run_dir, entries)
        self.assertEqual(e2e.stand_in_starts(product), [record], "the product was started without --run")
        lines = self.assert_logged(run, "quiet", [e["path"] for e in entries], manifest=True)
        for entry in entries:
            self.assert_row_line(lines, entry["path"], 0)  # nothing fetched

    def test_close_product_ends_the_running_product_and_installs(self):
        run_dir = self.make_run_directory()
        product, entries = self.release(run_dir)
        running, record = self.start_stand_in(product, "--hold", HOLD_SECONDS)
        self.hand_off(run_dir, entries)

        run = self.run_updater(run_dir, "--quiet", "--handoff", "--close-product")
        self.assert_exit(run, UPDATED)
        self.assert_nothing_shown(run)
        self.wine.wait_for(lambda: running.poll() is not None, timeout=10, message="the product's end")
        self.assert_wholly(entries, "new")
        self.assert_no_leftovers(run_dir)
        self.assert_kept(run_dir, entries)
        self.assertEqual(e2e.stand_in_starts(product), [record], "the product was started again without --run")
        lines = self.assert_logged(run, "quiet", [e["path"] for e in entries], manifest=True)
        for entry in entries:
            self.assert_row_line(lines, entry["path"], len(entry["new"]), 200)

    def test_a_file_that_answers_404_installs_nothing(self):
        run_dir = self.make_run_directory()
        _, entries = self.release(run_dir)
        missing = self.entry(run_dir, "\\Data\\missing.pak", None, old=b"old data", md5=e2e.md5_hex(b"new data"))
        missing["new"] = b"new data"
        self.server.serve(missing["route"], b"no such file", status=404)
        entries.append(missing)
        self.hand_off(run_dir, entries)

        run = self.run_updater(run_dir, "--quiet", "--handoff")
        self.assert_exit(run, FAILED)
        self.assert_nothing_shown(run)
        self.assert_wholly(entries, "old")
        self.assert_staged_whole(entries[:-1])
        self.assertIsNone(self.staged(missing))
        self.assertEqual(e2e.commit_state_left(run_dir.path), [])
        lines = self.assert_logged(run, "quiet", [e["path"] for e in entries], manifest=True)
        self.assert_row_line(lines, missing["path"], 404)
        for entry in entries[:-1]:
            self.assert_row_line(lines, entry["path"], len(entry["new"]), 200)


if __name__ == "__main__":
    unittest.main()
