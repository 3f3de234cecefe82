"""The administrator's policy under Wine: DisableUpdates = 1 under
HKEY_LOCAL_MACHINE\\Software\\Policies\\Velmora\\Update stops every run before the update check. A quiet
or --check run exits with 6 having asked for nothing (not even the manifest) and left the hand-off
file; the window mode shows the notice "更新已被管理员禁用" instead of its window and ends with 0.
Any other value lets updates run."""

import unittest

import policy
from managed_support import DISABLED, UPDATE_WAITING, ConnectionCounter, ManagedTestCase, e2e, run_log

DISABLED_NOTICE = "更新已被管理员禁用"


class PolicyTest(ManagedTestCase):
    def setUp(self):
        super().setUp()
        policy.remove_policy()
        self.addCleanup(policy.remove_policy)
        # The manifest host is reached through this "proxy", which counts every connection.
        self.proxy = ConnectionCounter()
        self.addCleanup(self.proxy.stop)
        self.wine.env = {k: v for k, v in self.wine.env.items() if not k.lower().endswith("_proxy")}
        self.wine.env["http_proxy"] = self.proxy.address

    def stale_run_directory(self):
        run_dir = self.make_run_directory()
        entry = self.entry(run_dir, "\\Bin\\core.dll", b"core 2" * 1000, old=b"core 1")
        return run_dir, entry, self.hand_off(run_dir, [entry])

    def assert_nothing_looked_at(self, run_dir, entry, hand_off):
        self.assert_hand_off_kept(run_dir, hand_off)
        self.assertEqual(self.server.requests(), [], "a file was asked for")
        self.assertEqual(self.proxy.count, 0, "the manifest was asked for")
        self.assert_untouched([entry])
        self.assertEqual(e2e.staging_leftovers(run_dir.path), [])

    def test_disable_updates_stops_every_run_before_the_update_check(self):
        policy.set_disable_updates(1)
        run_dir, entry, hand_off = self.stale_run_directory()
        for arguments, mode in [(("--quiet", "--handoff"), "quiet"), (("--quiet",), "quiet"),
                                (("--check", "--handoff"), "check"), (("--check",), "check")]:
            with self.subTest(arguments=" ".join(arguments)):
                run = self.run_updater(run_dir, *arguments)
                self.assert_exit(run, DISABLED)
                self.assert_nothing_shown(run)
                # A quiet run names its outcome; a check prints no update line for what it never looked at.
                self.assertEqual(run.output, b"disabled by policy\n" if mode == "quiet" else b"")
                self.assert_nothing_looked_at(run_dir, entry, hand_off)
                self.assert_logged(run, mode, manifest=False)

        # The window mode: the notice, no window, then exit code 0.
        for arguments in [(), ("--from-product",)]:
            with self.subTest(arguments=" ".join(arguments) or "no arguments"):
                pending = self.start_run(run_dir, *arguments)
                notice = self.wine.probe("notice", "--wait", "60000", timeout=90)["notice"]
                self.assertEqual(notice["window"]["title"], e2e.NOTICE_TITLE)
                self.assertEqual(notice["mainInstruction"], DISABLED_NOTICE)
                # Kind 2: one OK button and no check box. (Wine draws no icon for the kinds that differ
                # only in their icon, so the kind cannot be told apart from 1, 5, 6 or 7 here.)
                self.assertEqual([(b["id"], b["checkBox"]) for b in notice["buttons"]], [(e2e.IDOK, False)])
                if not arguments:
                    print(f"\nthe policy notice: {notice['texts']}, saved as "
                          f"{e2e.screenshot('e2e-policy-notice.png', notice['window']['frame'])}")
                self.assertFalse(self.wine.probe("windows")["windows"], "the update window is open")
                self.wait_until_watched(pending, e2e.NOTICE_TITLE)
                self.wine.probe("notice-press", str(e2e.IDOK))
                run = self.finish_run(run_dir, pending, bound=30)
                self.assert_exit(run, 0)
                self.assertEqual([w["title"] for w in run.windows], [e2e.NOTICE_TITLE],
                                 "only the notice may appear")
                self.assert_nothing_looked_at(run_dir, entry, hand_off)
                self.assert_logged(run, "window", manifest=False)

    def test_any_other_value_lets_updates_run(self):
        run_dir, entry, hand_off = self.stale_run_directory()
        for value in (0, 2):
            with self.subTest(value=value):
                policy.set_disable_updates(value)
                run = self.run_updater(run_dir, "--check", "--handoff")
                self.assert_exit(run, UPDATE_WAITING)
                self.assertTrue(run.output.startswith(b"update: 1 file"), run.output)
                lines = self.assert_logged(run, "check", manifest=True)
                self.assertTrue(run_log.lines_of_path(lines, entry["path"]), run_log.describe(lines))


if __name__ == "__main__":
    unittest.main()
