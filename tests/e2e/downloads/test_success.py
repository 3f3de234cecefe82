"""A whole update under Wine: six stale files (the product itself, one in folders that do not exist
yet, one with a Chinese name, one more than 300 characters deep) served over plain HTTP on 127.0.0.1, at most two downloading at once,
every row a success with its sizes, the question after the update, and the product started (OK)
or not (Cancel)."""

import os
import re
import time
import unittest

from downloads_support import DownloadsTestCase, e2e, file_server, most_downloading_at_once

MIB = 1048576
DEEP_PATH = "\\Bin\\" + "\\".join(f"很长的资源目录 第{n:02}层 resources" for n in range(13)) + "\\深 文件.dat"
SPEED = re.compile(r"^\d+\.\d\d (KB|MB)/s$")


def padded_product(trailer):
    """The stand-in product with `trailer` and zero bytes up to the next multiple of 1/4 MiB, and
    the size text of that length ("1.25 MB")."""
    with open(e2e.STAND_IN, "rb") as source:
        data = source.read() + trailer
    quarters = -(-len(data) // (MIB // 4))
    data += b"\0" * (quarters * (MIB // 4) - len(data))
    return data, "%g MB" % (quarters / 4)


class SuccessfulUpdateTest(DownloadsTestCase):
    def prepare(self, product_name="Velmora.exe"):
        run_dir = self.make_run_directory()
        product, product_size = padded_product(b"velmora product, new release")
        old_product, _ = padded_product(b"velmora product, old release")
        slow = dict(behaviour=file_server.DRIP, interval=0.1)
        entries = [
            # (entry, its size text)
            (self.entry(run_dir, "\\" + product_name, product, old=old_product, step=64 * 1024, **slow), product_size),
            (self.entry(run_dir, "\\Bin\\Velmora.dll", os.urandom(1536), old=b"old library"), "1.5 KB"),
            # Folders that do not exist yet; the second byte of "淺" in GBK is "\".
            (self.entry(run_dir, "\\Bin\\Plugins\\新淺\\extra.dat", file_server.Pattern(5 * MIB // 2).bytes(),
                        step=128 * 1024, **slow), "2.5 MB"),
            (self.entry(run_dir, "\\Bin\\资源\\说明.txt", "新版本说明".encode("gbk") * 100, old=b"old notes"), "1000 B"),
            (self.entry(run_dir, "\\Bin\\Data\\table.bin", os.urandom(150 * 1024), old=b"old table",
                        step=10240, **{**slow, "interval": 0.15}), "150 KB"),
            # A target far deeper than MAX_PATH (260), reached through the extended path form.
            (self.entry(run_dir, DEEP_PATH, os.urandom(1536), old=b"old deep file"), "1.5 KB"),
        ]
        return run_dir, [entry for entry, _ in entries], [size for _, size in entries]

    def run_update(self, run_dir, entries, screenshots=False):
        """Starts the updater, presses the start button and watches until the notice; returns it
        and the grid snapshots. The first entry is the product to run."""
        window = self.start_updater(run_dir, entries, run=entries[0]["path"].lstrip("\\"))
        taken = []

        def on_snapshot(snapshot):
            if screenshots and not taken and snapshot.downloading() >= 1:
                taken.append(e2e.screenshot("e2e-downloads.png", window["frame"]))

        started = self.press_start()
        notice, snapshots = self.watch(started, timeout=120, on_snapshot=on_snapshot)
        print(f"\nstart button to notice: {snapshots[-1].seconds:.1f} s, {len(snapshots)} grid readings")
        return notice, snapshots

    def check_success(self, run_dir, entries, sizes, notice, snapshots):
        # Never more than two rows downloading at once, and downloads were seen in progress.
        most = most_downloading_at_once(snapshots)
        print(f"most rows downloading at once: {most}")
        self.assertLessEqual(most, 2, [s.statuses() for s in snapshots if s.downloading() > 2])
        self.assertGreaterEqual(most, 1)

        final = snapshots[-1].rows
        for number, (row, entry, size) in enumerate(zip(final, entries, sizes), start=1):
            with self.subTest(path=entry["path"]):
                self.assertEqual(row[e2e.COLUMN_ROW], str(number))
                self.assertEqual(row[e2e.COLUMN_PATH], entry["path"])
                self.assertEqual(row[e2e.COLUMN_STATUS], e2e.STATUS_SUCCEEDED)
                self.assertEqual(row[e2e.COLUMN_PROGRESS], "100")
                self.assertEqual((row[e2e.COLUMN_SIZE], row[e2e.COLUMN_DOWNLOADED]), (size, size))
                self.assertRegex(row[e2e.COLUMN_SPEED], SPEED)
                self.assertRegex(row[e2e.COLUMN_MS], r"^\d+$")
        self.assertEqual(self.caption(), "更新完成")

        self.assertEqual(notice["window"]["title"], e2e.NOTICE_TITLE)
        self.assertEqual(notice["mainInstruction"], "更新完成")
        self.assertEqual(notice["content"], "[确定]运行软件 [取消]退出更新")
        self.assertEqual(sorted(b["id"] for b in notice["buttons"] if not b["checkBox"]), [e2e.IDOK, e2e.IDCANCEL])

        for entry in entries:
            self.assertEqual(self.content(entry["local"]), entry["new"], entry["path"])
        self.assert_no_leftovers(run_dir)
        # GBK-aware folder creation: no stray folder named after the first byte of "淺".
        self.assertEqual(os.listdir(os.path.join(run_dir.path, "Bin", "Plugins")), ["新淺"])

    def test_ok_starts_the_product_and_the_updater_exits(self):
        # A product with a Chinese name: the launch passes it on to the shell intact.
        run_dir, entries, sizes = self.prepare("维默拉.exe")
        notice, snapshots = self.run_update(run_dir, entries, screenshots=True)
        e2e.screenshot("e2e-success-notice.png", notice["window"]["frame"])
        self.check_success(run_dir, entries, sizes, notice, snapshots)

        product = os.path.join(run_dir.path, "维默拉.exe")
        self.assertEqual(e2e.stand_in_starts(product), [])
        self.press_notice(e2e.IDOK)
        self.assertEqual(self.wine.wait(self.updater, timeout=30), 0)
        starts = self.wine.wait_for(lambda: e2e.stand_in_starts(product), timeout=30,
                                    message="the product's start record")
        self.assertEqual(len(starts), 1, starts)
        self.assertEqual(starts[0]["path"].lower(), e2e.windows_path(product).lower())
        self.assertEqual(starts[0]["arguments"], [])
        # The product that started is the new release.
        self.assertEqual(self.content(product), entries[0]["new"])

    def test_cancel_exits_without_starting_the_product(self):
        run_dir, entries, sizes = self.prepare()
        notice, snapshots = self.run_update(run_dir, entries)
        self.check_success(run_dir, entries, sizes, notice, snapshots)

        self.press_notice(e2e.IDCANCEL)
        self.assertEqual(self.wine.wait(self.updater, timeout=30), 0)
        time.sleep(2)  # a product started by mistake would have recorded its start by now
        self.assertEqual(e2e.stand_in_starts(os.path.join(run_dir.path, "Velmora.exe")), [])

    def test_an_upper_case_digest_updates_once_and_is_then_up_to_date(self):
        run_dir = self.make_run_directory()
        new = os.urandom(4096)
        entry = self.entry(run_dir, "\\Bin\\upper.dat", new, old=b"old upper", md5=e2e.md5_hex(new).upper())
        self.start_updater(run_dir, [entry])
        notice, snapshots = self.watch(self.press_start(), timeout=60)
        self.assertEqual(snapshots[-1].statuses(), [e2e.STATUS_SUCCEEDED])
        self.assertEqual(notice["content"], "[确定]运行软件 [取消]退出更新")
        self.press_notice(e2e.IDCANCEL)
        self.assertEqual(self.wine.wait(self.updater, timeout=30), 0)
        self.assertEqual(self.content(entry["local"]), new)

        # The next run finds the file current: nothing is listed, nothing fetched.
        requests = len(self.server.requests(entry["route"]))
        e2e.write_hand_off_entries(run_dir, [entry])
        self.updater = self.wine.start(run_dir.program, "--from-product")

        def nothing_to_update():
            answer = self.look("notice")
            return answer["notice"] if answer.get("found") else None

        notice = self.wine.wait_for(nothing_to_update, timeout=60, interval=0.3, message="the notice")
        self.assertEqual((notice["mainInstruction"], notice["content"]), ("更新失败", "没有需要更新的文件"))
        self.wine.probe("notice-press", str(e2e.IDOK))
        self.assertEqual(self.wine.wait(self.updater, timeout=30), 0)
        self.assertEqual(len(self.server.requests(entry["route"])), requests)


if __name__ == "__main__":
    unittest.main()
