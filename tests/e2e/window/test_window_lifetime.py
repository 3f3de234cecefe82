"""Closing the window ends the program; a second copy of the same executable activates the first."""

import velmora_e2e as e2e


class WindowLifetimeTest(e2e.WineTestCase):
    def test_closing_the_window_ends_the_process_with_exit_code_0(self):
        run_dir = self.make_run_directory()
        program, _ = self.start_program(run_dir)
        self.wine.probe("close")
        self.assertEqual(self.wine.wait(program), 0)
        self.assertEqual(self.wine.probe("windows")["windows"], [])

    def test_second_copy_brings_the_first_to_the_front_and_exits(self):
        run_dir = self.make_run_directory()
        first, window = self.start_program(run_dir)
        self.wine.probe("minimise")
        self.wine.wait_for(lambda: self.wine.probe("window")["window"]["minimised"], message="minimised window")

        second = self.wine.start(run_dir.program, "--from-product")
        self.assertEqual(self.wine.wait(second), 0)

        restored = self.wine.probe("window")["window"]
        self.assertEqual(restored["pid"], window["pid"], "the first copy's window")
        self.assertFalse(restored["minimised"])
        self.assertTrue(restored["active"])
        self.assertEqual(len(self.wine.probe("windows")["windows"]), 1, "the second copy showed nothing")
        self.assertIsNone(first.poll(), "the first copy still runs")

        self.wine.probe("close")
        self.assertEqual(self.wine.wait(first), 0)

    def test_copy_in_another_folder_is_not_blocked(self):
        first_dir = self.make_run_directory()
        second_dir = self.make_run_directory()
        first, window = self.start_program(first_dir)
        second_dir.write_hand_off()
        second = self.wine.start(second_dir.program, "--from-product")
        windows = self.wine.wait_for(lambda: (lambda w: w if len(w) == 2 else None)(self.wine.probe("windows")["windows"]),
                                     message="two update windows")
        self.assertEqual(len({w["pid"] for w in windows}), 2)
        self.assertIsNone(second.poll())
        for w in windows:
            self.wine.probe("close", "--pid", str(w["pid"]))
        self.assertEqual(self.wine.wait(first), 0)
        self.assertEqual(self.wine.wait(second), 0)


if __name__ == "__main__":
    import unittest
    unittest.main()
