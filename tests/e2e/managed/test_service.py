"""Per-machine installs under Wine: the update service and the background task. The updater built
with the tests' key is installed as the service; the window's update goes through it (the grid
filled from what the service streams, the files replaced, the running product ended by the service
and started again by the window), and so does --rollback; the service refuses garbage, a second client and an unsigned
release; a program holding the service's pipe is refused; a quiet request keeps --close-product; a
commit the killed service left is finished through it; the task is registered and removed;
--remove-service leaves nothing. Wine's service
manager starts the service without the test's environment, so the proxy to the release site is
the system's setting here."""

import json
import os
import re
import shutil
import struct
import subprocess
import sys
import unittest
from pathlib import Path

from managed_support import ServedManifestTestCase, e2e, run_log
from test_from_the_server import KEY, MANIFEST_PATH, SIGNED_UPDATER, TOOL, utc

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "proxy"))
from proxy_support import read_setting, restore_setting, write_setting  # noqa: E402

SERVICE_KEY = "HKLM\\System\\CurrentControlSet\\Services\\VelmoraUpdate"
TASK_FILE = os.path.join(os.environ.get("VELMORA_WINEPREFIX") or os.path.join(e2e.SOURCE_DIR, "build", "wine-prefix"),
                         "drive_c", "windows", "system32", "tasks", "Velmora Update")
UPDATE_REQUEST = b"\x01" + struct.pack("<I", 17) + b"velmora-update/1\x01"
QUIET_REQUEST = b"\x01" + struct.pack("<I", 18) + b"velmora-update/1\x01"  # + options: 1 --close-product
COMMAND_FAILED, BAD_SIGNATURE = 27, 22
MANIFEST = MANIFEST_PATH.strip("/")


class ServiceTest(ServedManifestTestCase):
    required_files = (TOOL, SIGNED_UPDATER)

    def setUp(self):
        super().setUp()
        before = {name: read_setting(name) for name in ("ProxyEnable", "ProxyServer")}
        self.addCleanup(lambda: [restore_setting(name, value) for name, value in before.items()])
        write_setting("ProxyServer", "REG_SZ", self.site.proxy.address.split("//", 1)[1])
        write_setting("ProxyEnable", "REG_DWORD", "1")

    def installed_run_dir(self):
        """A run directory on the test prefix's C: drive, where only Wine's one account can change
        it and the folders above it, wherever the checkout lies (/tmp is writable by anyone)."""
        parent = os.path.join(e2e.DRIVE_C, "velmora-tests")
        os.makedirs(parent, mode=0o755, exist_ok=True)
        return self.make_run_directory(parent=parent)

    def keyed_run_dir(self, release):
        run_dir = self.installed_run_dir()
        shutil.copy2(SIGNED_UPDATER, run_dir.program)
        e2e.write_tree(run_dir.path, release)
        # Whatever happens, the service goes with the test.
        self.addCleanup(lambda: self.wine.output_of(self.wine.start(run_dir.program, "--remove-service"), 60))
        return run_dir

    def publish(self, release):
        tree = os.path.join(self.other_folder(), "site")
        work = os.path.join(self.other_folder(), "release")
        e2e.write_tree(work, release)
        done = subprocess.run([TOOL, "publish", work, tree, "--base-url", self.site.files_url, "--run",
                               "Velmora.exe", "--key", KEY, "--serial", "7", "--expires", utc(2**31 - 1)],
                              capture_output=True, text=True, timeout=120)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.site.serve_tree(tree)
        return tree

    def command(self, run_dir, option, code=0):
        run = self.run_updater(run_dir, option, watch=False)
        self.assert_exit(run, code)
        return run

    def start_service(self):
        subprocess.run([e2e.WINE_RUN, "sc", "start", "VelmoraUpdate"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)

    def send(self, data):  # to a service started for it
        self.start_service()
        return self.wine.probe("pipe-send", "hex:" + data.hex(), "--wait", "60000", timeout=180, attempts=1)

    def log_text(self, run_dir):
        return run_log.log_bytes(run_dir).decode("utf-8", "replace")

    def assert_release(self, run_dir, release):
        self.assertEqual({r: data for r, data in e2e.read_tree(run_dir.path).items() if r in release}, release)

    def signed_update(self, v1, v2):
        run_dir = self.keyed_run_dir(v1)
        published = e2e.read_tree(self.publish(v2))
        self.site.serve_manifest(published[MANIFEST], published[MANIFEST + ".sig"])
        self.command(run_dir, "--install-service")
        return run_dir

    def stand_in_releases(self):
        return [{"Velmora.exe": e2e.install_stand_in(self.other_folder(), trailer=n)[1]} for n in (b"1", b"2")]

    def update_through_the_window(self, run_dir, main, content):
        self.assertEqual(self.start_until_settled(run_dir)[0], "grid")
        self.wine.probe("click-button", "--pid", self.updater_pid)
        notice = self.wait_for_notice(timeout=180)
        self.assertEqual((notice["mainInstruction"], notice["content"]), (main, content))
        self.press_notice(e2e.IDCANCEL if main == "更新完成" else e2e.IDOK)
        self.assertEqual(self.wine.wait(self.updater, timeout=60), 0)

    def service_registered(self):
        code, text = e2e.wine_reg("query", SERVICE_KEY, "/v", "ImagePath", check=False)
        return text if code == 0 else None

    def test_the_window_updates_through_the_service_which_ends_and_the_window_restarts_the_product(self):
        plain = self.installed_run_dir()
        run = self.command(plain, "--install-service", COMMAND_FAILED)
        self.assertIn(b"root of trust", run.output)
        self.assertIsNone(self.service_registered())

        v1 = {"Velmora.exe": e2e.install_stand_in(self.other_folder(), trailer=b"1")[1],
              "Bin/数据/表 一.dat": "表一".encode("utf-8") * 5000}
        v2 = {"Velmora.exe": e2e.install_stand_in(self.other_folder(), trailer=b"2")[1],
              "Bin/数据/表 一.dat": "表二".encode("utf-8") * 9000}
        run_dir = self.keyed_run_dir(v1)
        published = e2e.read_tree(self.publish(v2))
        self.site.serve_manifest(published[MANIFEST], published[MANIFEST + ".sig"])
        self.command(run_dir, "--install-service")
        self.assertIn(e2e.windows_path(run_dir.program).lower() + '" --service', self.service_registered().lower())

        product = os.path.join(run_dir.path, "Velmora.exe")
        running, _ = self.start_stand_in(product, "--hold", "300")
        kind, grid = self.start_until_settled(run_dir)
        self.assertEqual(kind, "grid", grid)
        self.assertEqual(grid["rowCount"], 2)
        self.wine.probe("click-button", "--pid", self.updater_pid)
        notice = self.wait_for_notice(timeout=180)
        self.assert_notice(notice, "更新完成", "[确定]运行软件 [取消]退出更新", [e2e.IDOK, e2e.IDCANCEL])
        for row in self.grid_rows()["rows"]:
            self.assertEqual((row[e2e.COLUMN_STATUS], row[e2e.COLUMN_PROGRESS]), (e2e.STATUS_SUCCEEDED, "100"), row)
        self.assertEqual({r: data for r, data in e2e.read_tree(run_dir.path).items() if r in v2}, v2)
        self.assertIsNotNone(running.poll(), "the service did not end the running product")
        log = run_log.describe(run_log.parse(run_log.log_bytes(run_dir)))
        self.assertIn("update service: a client asks for an update", log)
        self.assertIn("the update goes through the update service", log)

        starts = len(e2e.stand_in_starts(product))
        self.press_notice(e2e.IDOK)
        self.assertEqual(self.wine.wait(self.updater, timeout=60), 0)
        self.wine.wait_for(lambda: len(e2e.stand_in_starts(product)) > starts, timeout=30, message="the product's start")

        # --rollback the same way: the question in the user's session, the restore in the service.
        kind, notice = self.start_until_settled(run_dir, "--rollback")
        self.assertEqual(kind, "notice", notice)
        self.assert_notice(notice, "恢复上一版本", "[确定]恢复到上一版本 [取消]退出", [e2e.IDOK, e2e.IDCANCEL])
        self.press_notice(e2e.IDOK)
        self.assert_notice(self.next_notice(notice, timeout=120), "已恢复上一版本", "[确定]运行软件 [取消]退出",
                           [e2e.IDOK, e2e.IDCANCEL])
        self.press_notice(e2e.IDCANCEL)
        self.assertEqual(self.wine.wait(self.updater, timeout=60), 0)
        self.assertEqual({r: data for r, data in e2e.read_tree(run_dir.path).items() if r in v1}, v1)
        self.assertIn("update service: a client asks for a rollback",
                      run_log.describe(run_log.parse(run_log.log_bytes(run_dir))))

        self.command(run_dir, "--remove-service")
        self.assertIsNone(self.service_registered())
        self.command(run_dir, "--remove-service")  # nothing left to remove is no failure

    def test_the_service_closes_on_garbage_takes_one_client_and_refuses_an_unsigned_release(self):
        v1 = {"Velmora.exe": b"release 1", "Bin/a.dat": b"a 1"}
        run_dir = self.keyed_run_dir(v1)
        published = e2e.read_tree(self.publish({"Velmora.exe": b"release 2", "Bin/a.dat": b"a 2"}))
        self.site.serve_manifest(published[MANIFEST], None)
        self.command(run_dir, "--install-service")
        subprocess.run([e2e.WINE_RUN, "sc", "start", "VelmoraUpdate"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)

        def send(data):
            return self.wine.probe("pipe-send", "hex:" + data.hex(), "--wait", "60000", timeout=180, attempts=1)

        for garbage in (b"GET / HTTP/1.1\r\n\r\n", UPDATE_REQUEST[:-1] + b"\x09", b"\x01\xff\xff\xff\x7f"):
            answer = send(garbage)
            self.assertTrue(answer["connected"] and answer["closed"], answer)
            self.assertEqual((answer["bytes"], answer["second"]), (0, False), answer)
        since = len(self.site.files.requests())
        answer = send(UPDATE_REQUEST)
        self.assertTrue(answer["finished"] and not answer["second"], answer)
        self.assertEqual(answer["exitCode"], BAD_SIGNATURE, answer)
        self.assertEqual(self.site.files.requests()[since:], [], "a file was fetched")
        self.assertEqual({r: data for r, data in e2e.read_tree(run_dir.path).items() if r in v1}, v1)

    def test_a_program_holding_the_pipe_is_refused_and_the_service_serves_once_it_has_gone(self):
        v1, v2 = self.stand_in_releases()
        run_dir = self.signed_update(v1, v2)
        stop = os.path.join(self.other_folder(), "stop")
        squatter = self.wine.start(e2e.PROBE, "pipe-squat", e2e.windows_path(stop), "--wait", "600000")
        lines = self.wine.wait_for(lambda: Path(squatter.output_path).read_bytes().split(b"\n")[:-1], message="squatter")
        holder = "process %d (" % json.loads(lines[0])["pid"]

        # The service cannot make its pipe: it names the holder and stops without serving.
        self.start_service()
        self.wine.wait_for(lambda: "update service: the pipe's name is held by " + holder in self.log_text(run_dir),
                           timeout=60, message="the service's line about the pipe's holder")
        # The window finds the squatter's pipe, refuses it before sending anything and says so.
        self.update_through_the_window(run_dir, "更新失败", "无法连接更新服务")
        self.assert_release(run_dir, v1)
        log = self.log_text(run_dir)
        self.assertRegex(log, "the update service's pipe is served by " + re.escape(holder) + r"[^,]*ui-probe\.exe")
        self.assertNotIn("a client asks for", log)
        open(stop, "wb").close()
        ended = json.loads(self.wine.output_of(squatter, 60).splitlines()[-1])
        self.assertEqual((ended["clients"] >= 1, ended["requestBytes"]), (True, 0), ended)

        # Once it has gone, the same window updates through the service, which logs its client.
        self.update_through_the_window(run_dir, "更新完成", "[确定]运行软件 [取消]退出更新")
        self.assert_release(run_dir, v2)
        self.assertRegex(self.log_text(run_dir), r"update service: a client asks for an update: process \d+ "
                                                 r"\([^)]*velmora-update\.exe, user S-1-5-")

    def test_a_quiet_request_without_close_product_defers_for_the_running_product(self):
        v1, v2 = self.stand_in_releases()
        run_dir = self.signed_update(v1, v2)
        running, _ = self.start_stand_in(os.path.join(run_dir.path, "Velmora.exe"), "--hold", "300")
        answer = self.send(QUIET_REQUEST + b"\x00")
        self.assertEqual((answer["exitCode"], answer["installed"]), (3, False), answer)
        self.assertIsNone(running.poll(), "the service ended the product without --close-product")
        self.assert_release(run_dir, v1)

    def service_process(self):
        """The Linux id of the service's Wine process (Wine shows its Windows command line)."""
        lines = subprocess.run(["ps", "-eo", "pid=,args="], capture_output=True, text=True).stdout.splitlines()
        return next((int(line.split()[0]) for line in lines if "velmora-update.exe" in line and "--service" in line),
                    None)

    def test_a_commit_left_by_the_killed_service_is_finished_through_the_service_at_the_next_start(self):
        old = {f"Bin/数据/part{n:03}.dat": b"old %d\n" % n for n in range(300)}
        new = {path: b"new" + data[3:] * 40 for path, data in old.items()}
        v1, v2 = {"Velmora.exe": b"release 1", **old}, {"Velmora.exe": b"release 2", **new}
        run_dir = self.signed_update(v1, v2)
        self.start_service()
        service = self.wine.wait_for(self.service_process, timeout=60, message="the service's process")
        self.wine.start(e2e.PROBE, "pipe-send", "hex:" + UPDATE_REQUEST.hex(), "--wait", "60000")
        journal = e2e.local_path(run_dir.path, e2e.JOURNAL)
        self.wine.wait_for(lambda: os.path.exists(journal), timeout=180, interval=0.0005, message="the commit")
        os.kill(service, 9)
        self.assertTrue(os.path.exists(journal), "the kill did not land inside the commit")

        self.start_until_settled(run_dir)  # the grid (undone) or the notice that nothing is left (finished)
        tree = {r: data for r, data in e2e.read_tree(run_dir.path).items() if r in v1}
        self.assertIn(tree, (v1, v2), "the folder is not wholly one release")
        self.assertFalse(os.path.exists(journal))
        log = self.log_text(run_dir)
        self.assertIn("update service: a client asks for the interrupted commit's end: process", log)
        self.assertIn("recovery: the update service made the product's folder one release", log)

    def test_schedule_registers_the_quiet_task_and_unschedule_removes_it(self):
        # The product's build refuses: under Wine a user (the one account) owns every folder.
        plain = self.installed_run_dir()
        self.assertIn(b"S-1-5-21-0-0-0-1000 can change its access list as its owner",
                      self.command(plain, "--schedule", COMMAND_FAILED).output)
        self.assertFalse(os.path.exists(TASK_FILE))
        run_dir = self.keyed_run_dir({})
        self.addCleanup(lambda: self.wine.output_of(self.wine.start(run_dir.program, "--unschedule"), 60))
        self.command(run_dir, "--schedule")
        # Wine's scheduler keeps the settings only (not the triggers, the principal or the exec
        # action's contents); the whole definition is checked natively where it is built.
        with open(TASK_FILE, "rb") as task:
            text = task.read().decode("utf-8-sig")
        for setting in ("<RunOnlyIfNetworkAvailable>true</RunOnlyIfNetworkAvailable>",
                        "<MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>",
                        "<ExecutionTimeLimit>PT2H</ExecutionTimeLimit>"):
            self.assertIn(setting, text)
        self.command(run_dir, "--schedule")  # a second registration replaces the first
        self.command(run_dir, "--unschedule")
        self.assertFalse(os.path.exists(TASK_FILE))

    def test_a_folder_anyone_may_write_is_refused_by_both_commands_and_by_the_service(self):
        run_dir = self.keyed_run_dir({"Velmora.exe": b"release 1"})
        os.chmod(run_dir.path, 0o777)  # Wine gives Everyone write on the folder
        for option in ("--install-service", "--schedule"):
            self.assertIn(b"S-1-1-0 can add files", self.command(run_dir, option, COMMAND_FAILED).output)
        self.assertIsNone(self.service_registered())
        os.chmod(run_dir.path, 0o700)
        self.command(run_dir, "--install-service")
        os.chmod(run_dir.path, 0o777)
        subprocess.run([e2e.WINE_RUN, "sc", "start", "VelmoraUpdate"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        self.wine.wait_for(lambda: b"update service: refuses to serve: S-1-1-0 can add files" in
                           (run_log.log_bytes(run_dir) or b""), timeout=60, message="the service's refusal")
        answer = self.wine.probe("pipe-send", "hex:" + UPDATE_REQUEST.hex(), "--wait", "3000", timeout=60, attempts=1)
        self.assertFalse(answer["connected"], answer)


if __name__ == "__main__":
    unittest.main()
