"""Runs that end before anything is fetched, under Wine. Options that do not combine are a usage
error (2) at once: nothing looked at, no window, the hand-off file left as it is, and the log
says so. A quiet run with no
hand-off file has no manifest (20); one whose hand-off file is not JSON, or lists a path that leaves
the product's folder, has a malformed manifest (21). None shows a window or a dialog."""

import unittest

from managed_support import MALFORMED, UNREACHABLE, USAGE_ERROR, ManagedTestCase, e2e

USAGE_ERRORS = [
    ("--run",),
    ("--close-product", "--handoff"),
    ("--check", "--quiet", "--close-product"),
    ("--check", "--run"),
    ("--check", "--close-product"),
    ("--check", "--rollback"),
    ("--rollback", "--quiet"),
    ("--rollback", "--handoff"),
    ("--quiet", "--quiet", "--handoff"),
]


class RefusalsTest(ManagedTestCase):
    def test_options_that_do_not_combine_are_a_usage_error(self):
        run_dir = self.make_run_directory()
        entry = self.entry(run_dir, "\\Bin\\core.dll", b"core 2" * 1000, old=b"core 1")
        hand_off = self.hand_off(run_dir, [entry])
        for arguments in USAGE_ERRORS:
            with self.subTest(arguments=" ".join(arguments)):
                run = self.run_updater(run_dir, *arguments, bound=60)
                self.assert_exit(run, USAGE_ERROR)
                self.assert_nothing_shown(run)
                self.assert_hand_off_kept(run_dir, hand_off)
                self.assertEqual(self.server.requests(), [])
                self.assert_untouched([entry])
                self.assertEqual(e2e.staging_leftovers(run_dir.path), [])
                self.assert_logged(run, "", manifest=False)

    def test_a_missing_or_malformed_hand_off_file_ends_the_run(self):
        run_dir = self.make_run_directory()
        entry = self.entry(run_dir, "\\Bin\\core.dll", b"core 2" * 1000, old=b"core 1")
        run_dir.write("Bin/Config/Velmora.ini", b"[Velmora]\r\n")  # the product's folder has its configuration

        run = self.run_updater(run_dir, "--quiet", "--handoff")
        self.assert_exit(run, UNREACHABLE)
        self.assert_nothing_shown(run)
        self.assert_logged(run, "quiet", manifest=True)

        for name, data in [("not JSON", '{"run":"Velmora.exe","data":['.encode("gbk")),
                           ("a path leaving the folder", None)]:
            with self.subTest(name):
                if data is None:
                    outside = dict(entry, path="\\..\\outside.dll")
                    self.hand_off(run_dir, [entry, outside])
                else:
                    run_dir.write(e2e.HAND_OFF, data)
                run = self.run_updater(run_dir, "--quiet", "--handoff")
                self.assert_exit(run, MALFORMED)
                self.assert_nothing_shown(run)
                self.assert_untouched([entry])
                self.assertEqual(self.server.requests(), [])
                self.assert_logged(run, "quiet", manifest=True)


if __name__ == "__main__":
    unittest.main()
