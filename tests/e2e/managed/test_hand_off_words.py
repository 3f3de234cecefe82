"""The product's own start of the updater, under Wine: any argument that is not a reserved option (a
plain word, an unknown --word) still opens the window with the hand-off file's files, as before,
and so does --handoff itself; the window ends with exit code 0 and the run is logged. (An unknown
--word is what the other groups start the updater with, --from-product: tests/e2e/update_check.)"""

import os
import unittest

from managed_support import ManagedTestCase, e2e

EXPECTED_ROW = ["1", "\\Bin\\界面\\皮肤 蓝色.dat", "0", "0 KB/s", "", "", "", e2e.STATUS_READY]


class HandOffWordsTest(ManagedTestCase):
    def test_any_word_and_handoff_open_the_window_with_the_hand_off_files(self):
        run_dir = self.make_run_directory()
        entry = self.entry(run_dir, "\\Bin\\界面\\皮肤 蓝色.dat", b"skin 2" * 100, old=b"skin 1")
        for arguments in [("foo",), ("--handoff",)]:
            with self.subTest(arguments=" ".join(arguments)):
                self.hand_off(run_dir, [entry])
                pending = self.start_run(run_dir, *arguments, watch=False)
                window = self.wine.probe("window", "--wait", "60000", timeout=90)["window"]
                self.assertEqual(window["title"], e2e.WINDOW_TITLE)

                def filled():
                    button = self.wine.probe("button", check=False).get("button")
                    return self.wine.probe("grid")["grid"] if button and button["enabled"] else None
                grid = self.wine.wait_for(filled, timeout=60, interval=0.3, message="the listed files")
                self.assertEqual(grid["rows"], [EXPECTED_ROW])
                self.assertFalse(os.path.exists(e2e.local_path(run_dir.path, e2e.HAND_OFF)),
                                 "the hand-off file was not read")
                self.wine.probe("close")
                run = self.finish_run(run_dir, pending, bound=30)
                self.assert_exit(run, 0)
                self.assert_logged(run, "window", [entry["path"]], manifest=True)
                self.assert_untouched([entry])


if __name__ == "__main__":
    unittest.main()
