"""velmora-update.exe --rollback under Wine. Nothing kept: "没有可恢复的版本", OK only, exit 0. After an
update that replaced the updater itself and the running product and added a file in a new folder:
Cancel changes nothing; a file held by a program that cannot be ended leaves everything as it was
("有1个文件被占用，未能恢复上一版本"); OK ends the running product, brings every old file back byte for
byte (the running updater's own executable too), removes the added file and the kept release, and
the last OK starts the old product. The same manifest, also with its entries in another order, is
then not offered again, one that differs is; and nothing is kept any more."""

import os
import unittest

from whole_release_support import (ROLLBACK_MAIN, ROLLBACK_NOTHING_KEPT, ROLLBACK_QUESTION, ROLLED_BACK_MAIN,
                                   ROLLED_BACK_QUESTION, NOTHING_TO_UPDATE, WholeReleaseTestCase, e2e, file_server,
                                   relative_path)

HOLD_SECONDS = "120"


class RollbackTest(WholeReleaseTestCase):
    def rollback(self):
        """Starts --rollback and returns its first dialog."""
        kind, notice = self.start_until_settled(self.run_dir, "--rollback")
        self.assertEqual(kind, "notice", "--rollback opened the update window")
        return notice

    def answer(self, button):
        self.press_notice(button)
        return self.wine.wait(self.updater, timeout=30)

    def product_state(self):
        """What a rollback that did nothing must leave as it was: every listed file (None when
        missing), the kept release and whether a rollback was recorded."""
        return ({entry["path"]: self.content_or_none(entry["local"]) for entry in self.entries},
                e2e.kept_files(self.run_dir.path),
                os.path.exists(e2e.local_path(self.run_dir.path, e2e.ROLLED_BACK)))

    def test_rollback_restores_the_previous_release_and_is_not_offered_it_again(self):
        self.run_dir = run_dir = self.make_run_directory()
        notice = self.rollback()
        self.assert_notice(notice, ROLLBACK_MAIN, ROLLBACK_NOTHING_KEPT, [e2e.IDOK])
        self.assertEqual(self.answer(e2e.IDOK), 0)

        # The release: the updater itself, the product (running when the update starts), a library,
        # a Chinese-named file, a file added in a new folder; readme.txt is listed and current.
        with open(run_dir.program, "rb") as source:
            updater_old = source.read()
        product_path, product_old = e2e.install_stand_in(run_dir.path, trailer=b"\0Velmora 1.0\0")
        _, product_new = e2e.install_stand_in(self.other_folder(), "new.bin", trailer=b"\0Velmora 2.0\0")
        run_dir.write("readme.txt", b"read me")
        self.entries = entries = [
            self.entry(run_dir, "\\velmora-update.exe", updater_old + b"\0velmora-update 2.0\0", old=updater_old),
            self.entry(run_dir, "\\Velmora.exe", product_new, old=product_old),
            self.entry(run_dir, "\\Bin\\core.dll", file_server.Pattern(200 * 1024).bytes(), old=b"old core" * 100),
            self.entry(run_dir, "\\Bin\\资源\\说明.txt", "新版本说明".encode("gbk") * 50, old="旧版本".encode("gbk")),
            self.entry(run_dir, "\\Bin\\Plugins\\新增\\added.dat", file_server.Pattern(7000).bytes()),
        ]
        current = self.entry(run_dir, "\\readme.txt", b"read me", old=b"read me")
        manifest = entries + [current]
        running, _ = self.start_stand_in(product_path, "--hold", HOLD_SECONDS)
        self.start_updater(run_dir, manifest, listed=entries)
        notice, snapshots = self.watch(self.press_start(), timeout=90)
        self.assertEqual(snapshots[-1].statuses(), [e2e.STATUS_SUCCEEDED] * len(entries))
        self.assert_success_notice(notice)
        self.end_run()
        self.assertIsNotNone(running.poll(), "the running product was not ended for the update")
        self.assert_wholly(entries, "new")
        self.assert_kept(run_dir, entries)
        self.assertTrue(os.path.isfile(e2e.local_path(run_dir.path, e2e.KEPT_RELEASE + "/release.txt")))
        updated = self.product_state()

        # Cancel: nothing changes; the product, running again, is left alone.
        running, _ = self.start_stand_in(product_path, "--hold", HOLD_SECONDS)
        notice = self.rollback()
        self.assert_notice(notice, ROLLBACK_MAIN, ROLLBACK_QUESTION, [e2e.IDOK, e2e.IDCANCEL])
        self.assertEqual(self.answer(e2e.IDCANCEL), 0)
        self.assertEqual(self.product_state(), updated, "Cancel changed something")
        self.assertIsNone(running.poll(), "Cancel ended the product")

        # A file held by a program that cannot be ended: nothing is restored.
        holder_exe, _ = e2e.install_stand_in(self.other_folder(), "Holder.exe")
        holder, record = self.start_stand_in(holder_exe, "--hold-file", e2e.windows_path(entries[2]["local"]),
                                             HOLD_SECONDS)
        self.assertTrue(record["held"], record)
        question = self.rollback()
        self.assert_notice(question, ROLLBACK_MAIN, ROLLBACK_QUESTION, [e2e.IDOK, e2e.IDCANCEL])
        e2e.screenshot("e2e-rollback-question.png", question["window"]["frame"])
        self.press_notice(e2e.IDOK)
        notice = self.next_notice(question)
        self.assertEqual((notice["mainInstruction"], notice["content"]), (ROLLBACK_MAIN, "有1个文件被占用，未能恢复上一版本"))
        buttons = [b["id"] for b in notice["buttons"] if not b["checkBox"]]
        self.press_notice(buttons[0])
        code = self.wine.wait(self.updater, timeout=30)
        print(f"\nthe rollback that found a held file: buttons {buttons}, exit code {code}, the product "
              f"{'ended' if running.poll() is not None else 'still running'}")
        self.assertEqual(self.product_state(), updated, "a rollback that could not replace a file changed something")
        self.assertIsNone(holder.poll(), "the program holding the file was ended")
        self.wine.end(holder)
        if running.poll() is not None:
            running, _ = self.start_stand_in(product_path, "--hold", HOLD_SECONDS)

        # OK: the product is ended, the previous release is back, the added file and the kept
        # release are gone; the last OK starts the old product.
        starts_before = len(e2e.stand_in_starts(product_path))
        question = self.rollback()
        self.press_notice(e2e.IDOK)
        done = self.next_notice(question)
        self.assert_notice(done, ROLLED_BACK_MAIN, ROLLED_BACK_QUESTION, [e2e.IDOK, e2e.IDCANCEL])
        e2e.screenshot("e2e-rolled-back.png", done["window"]["frame"])
        self.assertIsNotNone(running.poll(), "the running product was not ended")
        self.assert_wholly(entries, "old")
        self.assertFalse(os.path.exists(os.path.join(run_dir.path, "Bin", "Plugins", "新增", "added.dat")))
        self.assertFalse(os.path.exists(e2e.local_path(run_dir.path, e2e.KEPT_RELEASE)), "the kept release is still there")
        self.assertTrue(os.path.isfile(e2e.local_path(run_dir.path, e2e.ROLLED_BACK)))
        self.assertFalse(os.path.exists(e2e.local_path(run_dir.path, e2e.JOURNAL)))
        # The running updater's own executable, replaced, may wait set aside until the next start;
        # nothing else of the rollback is left.
        aside = e2e.local_path(run_dir.path, e2e.KEPT_RELEASE_NEW)
        if os.path.isdir(aside):
            print(f"\nafter the rollback, until the next start: {e2e.commit_state_left(run_dir.path)}")
            self.assertEqual(sorted(e2e.read_tree(aside)), ["files/velmora-update.exe"])
        self.assertFalse(os.path.exists(e2e.local_path(run_dir.path, e2e.KEPT_RELEASE_OLD)))
        self.assertEqual(self.content(current["local"]), b"read me")
        self.assertEqual(len(e2e.stand_in_starts(product_path)), starts_before, "the product started before OK")
        self.assertEqual(self.answer(e2e.IDOK), 0)
        starts = self.wine.wait_for(lambda: e2e.stand_in_starts(product_path)[starts_before:], timeout=30,
                                    message="the old product's start record")
        self.assertEqual(len(starts), 1, starts)
        self.assertEqual(starts[0]["path"].lower(), e2e.windows_path(product_path).lower())
        self.assertEqual(starts[0]["arguments"], [])
        self.assertEqual(self.content(product_path), product_old)

        # The same manifest again: the rolled-back release is not offered, nothing is fetched.
        since = len(self.server.requests())
        e2e.write_hand_off_entries(run_dir, manifest)
        kind, notice = self.start_until_settled(run_dir, "--from-product")
        self.assertEqual(kind, "notice", f"the rolled-back release was offered again: {notice}")
        self.assert_notice(notice, *NOTHING_TO_UPDATE, [e2e.IDOK])
        self.assertEqual(self.answer(e2e.IDOK), 0)
        self.assertEqual(self.requests_since(since), [])
        self.assert_wholly(entries, "old")
        self.assertEqual(e2e.commit_state_left(run_dir.path), [], "left after the start that followed the rollback")
        # The same entries in another order are the same release.
        e2e.write_hand_off_entries(run_dir, list(reversed(manifest)))
        kind, notice = self.start_until_settled(run_dir, "--from-product")
        self.assertEqual(kind, "notice", f"the rolled-back release, its entries reordered, was offered again: {notice}")
        self.assert_notice(notice, *NOTHING_TO_UPDATE, [e2e.IDOK])
        self.assertEqual(self.answer(e2e.IDOK), 0)

        # A manifest that differs (a newer library) is offered as usual: every file that differs.
        newer = [dict(entry) for entry in manifest]
        newer[2].update(new=b"core 3.0" * 5000, md5=e2e.md5_hex(b"core 3.0" * 5000))
        e2e.write_hand_off_entries(run_dir, newer)
        kind, grid = self.start_until_settled(run_dir, "--from-product")
        self.assertEqual(kind, "grid", grid)
        self.assertEqual([row[e2e.COLUMN_PATH] for row in grid["rows"]], [entry["path"] for entry in entries])
        self.wine.probe("close", "--pid", self.updater_pid)
        self.assertEqual(self.wine.wait(self.updater, timeout=30), 0)

        # Nothing is kept any more.
        notice = self.rollback()
        self.assert_notice(notice, ROLLBACK_MAIN, ROLLBACK_NOTHING_KEPT, [e2e.IDOK])
        self.assertEqual(self.answer(e2e.IDOK), 0)
        self.assert_wholly(entries, "old")
        # No copy of the updater set aside, no staging file, nothing else is left.
        left = sorted(path for path in e2e.read_tree(run_dir.path) if not e2e.is_update_state(path))
        self.assertEqual(left, sorted(["velmora-update.exe", "Velmora.exe", "Velmora.exe.starts.txt", "readme.txt",
                                       relative_path(entries[2]), relative_path(entries[3])]))

    def test_a_product_that_crashes_after_the_update_has_the_release_rolled_back(self):
        self.run_dir = run_dir = self.make_run_directory()
        product, product_old = e2e.install_stand_in(run_dir.path, trailer=b"\0Velmora 1.0\0")
        _, product_new = e2e.install_stand_in(self.other_folder(), "new.bin", trailer=b"\0Velmora 2.0\0")
        entries = [self.entry(run_dir, "\\Velmora.exe", product_new, old=product_old),
                   self.entry(run_dir, "\\Velmora.exe.crash", b"crash on start")]  # the stand-in's flag
        self.start_updater(run_dir, entries, members={"healthSeconds": 60})
        notice, _ = self.watch(self.press_start(), timeout=90)
        self.assert_success_notice(notice)
        self.press_notice(e2e.IDOK)
        done = self.next_notice(notice)
        self.assertEqual((done["mainInstruction"], done["content"]), ("更新已撤销", "新版本无法正常启动，已恢复到上一版本"))
        self.assert_wholly(entries, "old")
        self.assertTrue(os.path.isfile(e2e.local_path(run_dir.path, e2e.ROLLED_BACK)))
        starts = self.wine.wait_for(lambda: e2e.stand_in_starts(product)[1:], timeout=30, message="the old product")
        self.assertEqual(len(starts), 1, "the new product once, then the old one")
        self.assertEqual(self.answer(e2e.IDOK), 0)


if __name__ == "__main__":
    unittest.main()
