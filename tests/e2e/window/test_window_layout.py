"""The update window as it opens: caption, size, centred, frame, grid columns, button."""

import velmora_e2e as e2e

EXPECTED_COLUMNS = [
    ("序号", 0, "centre"),
    ("文件名", 150, "left"),
    ("进度", 0, "left"),
    ("速度", 85, "left"),
    ("文件大小", 70, "left"),
    ("已下载", 70, "left"),
    ("耗时", 0, "left"),
    ("状态", None, "left"),  # the rest of the grid's client area
]


class WindowLayoutTest(e2e.WineTestCase):
    def test_window_opens_centred_with_the_designed_layout(self):
        run_dir = self.make_run_directory()
        program, window = self.start_program(run_dir)

        self.assertEqual(window["title"], "Update")
        frame = window["frame"]
        self.assertEqual((frame["width"], frame["height"]), (505, 315))
        self.assertLessEqual(abs(frame["x"] - (window["screenWidth"] - 505) // 2), 1, frame)
        self.assertLessEqual(abs(frame["y"] - (window["screenHeight"] - 315) // 2), 1, frame)
        self.assertTrue(window["minimiseBox"])
        self.assertFalse(window["maximiseBox"])
        self.assertFalse(window["resizable"])
        self.assertFalse(window["owned"], "shown without a parent")

        # The hand-off manifest lists one file: wait for its row.
        grid = self.wine.wait_for(lambda: (lambda g: g if g["rows"] else None)(self.wine.probe("grid")["grid"]),
                                  message="the listed file's row")
        self.assertEqual(grid["rowHeight"], 24)
        self.assertEqual(grid["bounds"], {"x": 0, "y": 0, "width": 500, "height": 250})
        columns = [(c["header"], c["width"], c["alignment"]) for c in grid["columns"]]
        self.assertEqual(len(columns), 8)
        fixed = sum(width for _, width, _ in EXPECTED_COLUMNS if width is not None)
        for (header, width, alignment), expected in zip(columns, EXPECTED_COLUMNS):
            self.assertEqual(header, expected[0])
            self.assertEqual(alignment, expected[2], header)
            self.assertEqual(width, expected[1] if expected[1] is not None else grid["clientWidth"] - fixed, header)
        self.assertEqual(sum(width for _, width, _ in columns), grid["clientWidth"], "no column is cut off")

        button = self.wine.probe("button")["button"]
        self.assertEqual(button["caption"], "开始下载")
        bounds = button["bounds"]
        self.assertEqual((bounds["width"], bounds["height"]), (494, 28))
        # Inside the strip below the grid, spanning the window's width.
        client_top = frame["y"] + frame["height"] - window["clientHeight"] - (frame["width"] - window["clientWidth"]) // 2
        self.assertGreaterEqual(bounds["y"], client_top + 250)
        self.assertLess(bounds["y"] + bounds["height"], frame["y"] + frame["height"])

        e2e.screenshot("e2e-window.png", frame)
        self.wine.probe("close")
        self.assertEqual(self.wine.wait(program), 0)


if __name__ == "__main__":
    import unittest
    unittest.main()
