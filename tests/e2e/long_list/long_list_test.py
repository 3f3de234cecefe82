"""A long list under Wine: a hand-off manifest of 20,000 stale entries gives 20,000 rows with their
texts and an enabled start button. Every row's insertion and cells must reach the window, however
many there are (a window's message queue holds 10,000 posted messages)."""

import time
import unittest

from velmora_e2e import WineTestCase

ROWS = 20000


def path_of(row):
    return "\\Bin\\Data\\part%05d.dat" % row


def expected_row(row):
    return [str(row), path_of(row), "0", "0 KB/s", "", "", "", "准备下载"]


class LongListTest(WineTestCase):
    def test_twenty_thousand_stale_entries_all_reach_the_grid(self):
        run_dir = self.make_run_directory()
        run_dir.write_hand_off(paths=[path_of(row) for row in range(1, ROWS + 1)])
        started = time.monotonic()
        self.wine.start(run_dir.program, "--from-product")
        self.wine.probe("window", "--wait", "60000", timeout=90)

        def enabled_button():
            button = self.wine.probe("button", check=False)
            return button if button.get("found") and button["button"]["enabled"] else None

        self.wine.wait_for(enabled_button, timeout=120, interval=0.1, message="the enabled start button")
        seconds = time.monotonic() - started
        print(f"\n{ROWS} rows: start to enabled button {seconds:.1f} s (probe polling included)")

        head = self.wine.probe("grid", "0", "3")["grid"]
        self.assertEqual(head["rowCount"], ROWS)
        self.assertEqual(head["rows"], [expected_row(row) for row in (1, 2, 3)])
        tail = self.wine.probe("grid", str(ROWS - 3), "3")["grid"]
        self.assertEqual(tail["rows"], [expected_row(row) for row in (ROWS - 2, ROWS - 1, ROWS)])
        middle = self.wine.probe("grid", "9999", "2")["grid"]
        self.assertEqual(middle["rows"], [expected_row(10000), expected_row(10001)])

        self.wine.probe("close")


if __name__ == "__main__":
    unittest.main()
