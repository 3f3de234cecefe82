"""The updater with its window behind a proxy that demands credentials, under Wine: the system's
credential dialog appears (on a Chinese system, in Chinese), a refused password brings it back, the
right one opens the way for the manifest and for every download of the run, and the release goes in;
the password is nowhere on disk. A cancelled dialog leaves the manifest unreachable."""

import time
import unittest

from proxy_support import (NO_MANIFEST, PASSWORD, PROXY_ASKED, USER, ProxyTestCase, auth_proxy, e2e,
                           run_log)


class ProxyWindowTest(ProxyTestCase):
    def start_updater(self, run_dir):
        self.updater = self.wine.start(run_dir.program)
        self.updater_pid = None

    def wait_for_dialog(self, timeout=60):
        """The credential dialog, once it shows."""
        def shown():
            if self.updater.poll() is not None:
                self.fail(f"the updater ended with code {self.updater.returncode} without asking for credentials")
            answer = self.look("credential-dialog")
            return answer["dialog"] if answer.get("found") else None
        return self.wine.wait_for(shown, timeout=timeout, interval=0.3, message="the proxy-credential dialog")

    def wait_for_proxy(self, condition, message):
        return self.wine.wait_for(lambda: [r for r in self.proxy.requests() if condition(r)], timeout=60,
                                  message=message)

    def answer_dialog(self, user, password):
        self.wine.probe("credential-fill", e2e.hex_text(user), e2e.hex_text(password))
        self.wine.probe("credential-press", str(e2e.IDOK))

    def wait_for_filled_grid(self, rows, timeout=60):
        def filled():
            if self.updater.poll() is not None:
                self.fail(f"the updater ended with code {self.updater.returncode}")
            windows = self.look("windows")["windows"]
            if not windows:
                return None
            self.updater_pid = str(windows[0]["pid"])
            button = self.look("button", "--pid", self.updater_pid)
            if not button.get("found") or not button["button"]["enabled"]:
                return None
            grid = self.probe_grid()
            return grid if grid["rowCount"] == rows else None
        return self.wine.wait_for(filled, timeout=timeout, interval=0.3, message="the listed files")

    def test_the_dialog_answers_the_proxy_for_the_manifest_and_every_download(self):
        run_dir = self.make_run_directory()
        entries = self.stale_release(run_dir)
        self.serve_manifest(entries)
        self.start_updater(run_dir)

        dialog = self.wait_for_dialog()
        frame = dialog["window"]["frame"]
        # In front of the update window that owns it, and active: the user can type at once.
        self.assertTrue(dialog["window"]["owned"] and dialog["window"]["foreground"] and dialog["window"]["active"],
                        dialog["window"])
        time.sleep(0.5)  # for the screenshot: Wine paints the active caption just after the activation
        e2e.screenshot("e2e-proxy-dialog.png", frame)
        self.assertEqual(dialog["window"]["title"], self.dialog_title)
        self.assertIn(self.proxy.server_setting, dialog["texts"])
        self.assertIn(self.proxy.realm, dialog["texts"])
        self.assertEqual(sorted(f["password"] for f in dialog["fields"]), [False, True])
        push = {b["id"]: b["caption"] for b in dialog["buttons"] if not b["checkBox"]}
        self.assertEqual(set(push), {e2e.IDOK, e2e.IDCANCEL})
        # Nothing may be saved: the dialog's "save this password" box starts cleared.
        self.assertEqual([b["checked"] for b in dialog["buttons"] if b["checkBox"]], [False])
        for control in dialog["fields"] + dialog["buttons"]:
            bounds = control["bounds"]
            self.assertTrue(frame["x"] <= bounds["x"] and bounds["x"] + bounds["width"] <= frame["x"] + frame["width"]
                            and frame["y"] <= bounds["y"]
                            and bounds["y"] + bounds["height"] <= frame["y"] + frame["height"],
                            f"{control} lies outside the dialog {frame}")
        # Only the tunnel was asked for, without credentials, and refused.
        self.assertEqual([(r.method, r.credentials, r.status) for r in self.proxy.requests()],
                         [("CONNECT", auth_proxy.NONE, 407)])

        # A wrong password: the proxy refuses it, and the dialog comes again.
        self.answer_dialog(USER, "not the password")
        self.wait_for_proxy(lambda r: r.credentials == auth_proxy.WRONG, "the wrong credentials at the proxy")
        self.wait_for_dialog()
        self.answer_dialog(USER, PASSWORD)

        grid = self.wait_for_filled_grid(len(entries))
        self.assertEqual([row[e2e.COLUMN_PATH] for row in grid["rows"]], [e["path"] for e in entries])
        manifest_tunnels = [r for r in self.tunnels() if r.credentials == auth_proxy.RIGHT]
        self.assertEqual([r.status for r in manifest_tunnels], [200])

        # The downloads, two at a time on worker threads, take the same credentials: no dialog.
        stop_watch = self.start_credential_watch()
        started = self.press_start()
        notice, _ = self.watch(started, timeout=120)
        dialogs_during_downloads = stop_watch()
        self.assertEqual((notice["mainInstruction"], notice["content"]), ("更新完成", "[确定]运行软件 [取消]退出更新"),
                         notice)
        self.press_notice(e2e.IDCANCEL)
        self.assertEqual(self.wine.wait(self.updater, timeout=60), 0)
        self.assertEqual(dialogs_during_downloads, [])

        self.assert_wholly(entries, "new")
        gets = self.forwarded_gets()
        for entry in entries:
            through = [r for r in gets if r.target == entry["url"] and r.credentials == auth_proxy.RIGHT]
            self.assertEqual([r.status for r in through], [200], f"{entry['path']}: {gets}")
            self.assertEqual(len(self.server.requests(entry["route"])), 1, entry["path"])
        self.assert_only_right_credentials_passed()
        challenges = [r for r in self.proxy.requests() if r.status == 407]
        print(f"\nnote: the proxy answered 407 {len(challenges)} times for {len(self.proxy.requests()) - len(challenges)} "
              f"requests let through")

        self.assert_no_file_holds_the_password(run_dir.path)
        log = run_log.log_bytes(run_dir).decode("utf-8")
        self.assertIn("exit", log)  # the run wrote its log, which holds no password either

    def test_a_cancelled_dialog_leaves_the_manifest_unreachable(self):
        run_dir = self.make_run_directory()
        entries = self.stale_release(run_dir)
        self.serve_manifest(entries)
        self.start_updater(run_dir)
        self.wait_for_dialog()
        self.wine.probe("credential-press", str(e2e.IDCANCEL))

        notice = self.wine.wait_for(lambda: self.look("notice").get("notice"), timeout=60, message="the notice")
        self.assertEqual((notice["mainInstruction"], notice["content"]), NO_MANIFEST)
        self.updater_pid = str(notice["window"]["pid"])
        self.press_notice(e2e.IDOK)
        self.assertEqual(self.wine.wait(self.updater, timeout=60), 0)
        self.assert_wholly(entries, "old")
        self.assertEqual([(r.method, r.status) for r in self.proxy.requests()], [("CONNECT", 407)])
        self.assertIn(PROXY_ASKED, run_log.log_bytes(run_dir).decode("utf-8"))


if __name__ == "__main__":
    unittest.main()
