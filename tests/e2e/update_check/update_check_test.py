"""The update check of the real program under Wine: the grid it fills, and the notices with which
it ends when there is nothing to do or no usable manifest."""

import hashlib
import os
import unittest

import check_environment as env

NO_MANIFEST = ("获取Update文件列表失败", "错误代码：UpData数据为空")
BAD_MANIFEST = ("获取Update文件列表失败", "错误代码：UpData数据错误")
NOTHING_TO_UPDATE = ("更新失败", "没有需要更新的文件")


def md5(data):
    return hashlib.md5(data).hexdigest()


class UpdateCheckTest(env.NetworkTestCase):
    def setUp(self):
        super().setUp()
        self.network.proxy.refuse_connect = False
        self.network.serve_manifest(b"", status=404)

    def updater(self, files=None):
        return env.UpdaterRun(self, files)

    def assertGridRows(self, grid, paths):
        self.assertEqual(grid["rows"], [[str(row), path, "0", "0 KB/s", "", "", "", "准备下载"]
                                        for row, path in enumerate(paths, start=1)])

    def assertEndsWithNotice(self, run, texts):
        notice = run.wait_for_notice()
        self.assertEqual((notice["mainInstruction"], notice["content"]), texts)
        self.assertEqual(notice["window"]["title"], "Velmora - Update")
        run.press_notice_button()
        self.assertEqual(run.wait_for_exit(), 0)

    def test_three_stale_files_of_five_fill_three_rows(self):
        files = {"\\App.exe": b"app 1", "\\Bin\\core.dll": b"core 2", "\\Bin\\ui.dll": b"ui 1",
                 "\\Bin\\net.dll": b"net 2", "\\readme.txt": b"readme 1"}
        run = self.updater(files)
        self.network.serve_manifest(env.manifest_json([
            ("\\App.exe", md5(b"app 2")), ("\\Bin\\core.dll", md5(b"core 2")), ("\\Bin\\ui.dll", md5(b"ui 2")),
            ("\\Bin\\net.dll", md5(b"net 2")), ("\\readme.txt", md5(b"readme 2"))]))
        run.start()
        grid, button = run.wait_for_filled_grid()
        self.assertGridRows(grid, ["\\App.exe", "\\Bin\\ui.dll", "\\readme.txt"])
        self.assertEqual(button["caption"], "开始下载")
        self.assertTrue(button["enabled"])
        run.close_window()
        self.assertEqual(run.wait_for_exit(), 0)

    def test_chinese_file_names_sent_as_utf8_show_in_the_grid(self):
        run = self.updater({"\\数据\\配置.ini": b"old"})
        self.network.serve_manifest(env.manifest_json([
            ("\\数据\\配置.ini", md5(b"new")), ("\\更新说明.txt", md5(b"notes"))], run="启动.exe"))
        run.start()
        grid, _ = run.wait_for_filled_grid()
        self.assertGridRows(grid, ["\\数据\\配置.ini", "\\更新说明.txt"])

    def test_digests_match_in_either_case_and_missing_files_are_listed_even_when_empty(self):
        run = self.updater({"\\a.dll": b"a", "\\b.dll": b"b", "\\here.dat": b"", "\\odd.dll": b"odd"})
        self.network.serve_manifest(env.manifest_json([
            ("\\a.dll", md5(b"a").upper()), ("\\b.dll", md5(b"b2").upper()), ("\\odd.dll", "not a digest"),
            ("\\gone.dll", md5(b"gone")), ("\\empty.dat", env.EMPTY_MD5), ("\\here.dat", env.EMPTY_MD5)]))
        run.start()
        grid, _ = run.wait_for_filled_grid()
        self.assertGridRows(grid, ["\\b.dll", "\\odd.dll", "\\gone.dll", "\\empty.dat"])

    def test_a_slow_server_is_waited_for(self):
        run = self.updater()
        self.network.serve_manifest(env.manifest_json([("\\late.dll", md5(b"late"))]), delay=3.0)
        run.start()
        grid, _ = run.wait_for_filled_grid()
        self.assertGridRows(grid, ["\\late.dll"])

    def test_nothing_to_update_ends_behind_a_notice(self):
        run = self.updater({"\\App.exe": b"app", "\\Bin\\x.dll": b"x"})
        self.network.serve_manifest(env.manifest_json([("\\App.exe", md5(b"app")), ("\\Bin\\x.dll", md5(b"x"))]))
        run.start()
        self.assertEndsWithNotice(run, NOTHING_TO_UPDATE)

    def test_no_usable_answer_is_an_empty_manifest(self):
        manifest = env.manifest_json([("\\x.dll", md5(b"x"))])
        answers = {
            "empty body": dict(body=b""),
            "HTTP 404": dict(body=manifest, status=404),
            "HTTP 500": dict(body=manifest, status=500),
        }
        for what, answer in answers.items():
            with self.subTest(what):
                run = self.updater()
                self.network.serve_manifest(**answer)
                run.start()
                self.assertEndsWithNotice(run, NO_MANIFEST)

    def test_server_down_is_an_empty_manifest(self):
        self.network.proxy.refuse_connect = True
        run = self.updater()
        run.start()
        self.assertEndsWithNotice(run, NO_MANIFEST)

    def test_text_that_is_not_json_is_a_bad_manifest(self):
        run = self.updater()
        self.network.serve_manifest(b"<html><body>Service Unavailable</body></html>")
        run.start()
        self.assertEndsWithNotice(run, BAD_MANIFEST)

    def test_a_path_that_climbs_out_of_the_run_directory_refuses_the_manifest(self):
        run = self.updater()
        self.network.serve_manifest(env.manifest_json([
            ("\\ok.dll", md5(b"ok")), ("\\..\\outside.dll", md5(b"evil"))]))
        run.start()
        self.assertEndsWithNotice(run, BAD_MANIFEST)

    def test_started_with_an_argument_the_hand_off_file_is_read_and_deleted(self):
        run = self.updater({"\\数据\\a.dat": b"old"})
        manifest = env.manifest_json([("\\数据\\a.dat", md5(b"new")), ("\\b.dat", md5(b"b"))])
        run.write(env.HAND_OFF, manifest.decode("utf-8").encode("gbk"))
        requests_before = self.network.manifest_requests()
        run.start("--from-product")
        grid, _ = run.wait_for_filled_grid()
        self.assertGridRows(grid, ["\\数据\\a.dat", "\\b.dat"])
        self.assertFalse(os.path.exists(run.local(env.HAND_OFF)))
        self.assertEqual(self.network.manifest_requests(), requests_before)

    def test_started_with_an_argument_but_no_hand_off_file(self):
        run = self.updater()
        self.network.serve_manifest(env.manifest_json([("\\x.dll", md5(b"x"))]))  # must not be used
        run.start("x")
        self.assertEndsWithNotice(run, NO_MANIFEST)


if __name__ == "__main__":
    unittest.main()
