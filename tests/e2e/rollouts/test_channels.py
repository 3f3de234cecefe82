"""Channels under Wine: an installation follows the channel that the administrator's policy value
Channel, --channel (remembered in Bin\\Config\\channel.txt) or the remembered choice names, reads
that channel's manifest at /download/2099/pro/NAME/up.txt (the tests' HTTPS server records every
request), takes its release and keeps that channel's serial apart from the default channel's. A
name that is no channel name is a usage error before anything is fetched, and one channel's signed
manifest served in another's place is refused as malformed."""

import json
import os
import unittest

from channel_policy import remove_channel_policy, set_channel
from rollouts_support import (MALFORMED, UNREACHABLE, UP_TO_DATE, UPDATE_WAITING, UPDATED, USAGE_ERROR,
                              ConnectionCounter, RolloutsTestCase, e2e, manifest_route, read_file, run_log)

V1 = {"Velmora.exe": b"Velmora 1" * 1000, "Bin/core.dll": b"core 1" * 3000, "readme.txt": b"read me"}
STABLE = {"Velmora.exe": b"Velmora 2" * 1000, "Bin/core.dll": b"core 2" * 3000, "readme.txt": b"read me"}
BETA = {"Velmora.exe": b"Velmora 3 beta" * 1000, "Bin/core.dll": b"core 3 beta" * 3000, "readme.txt": b"read me",
        "Bin/beta.dat": b"only in beta" * 100}
BETA_ROUTES = {manifest_route("beta"), manifest_route("beta") + ".sig"}
DEFAULT_ROUTES = {manifest_route(), manifest_route() + ".sig"}


def listed(*paths):
    """The bytes of the --check line's names: each path as a JSON string."""
    return [json.dumps(path, ensure_ascii=False).encode("utf-8") for path in paths]


class ChannelsTest(RolloutsTestCase):
    def publish_both(self):
        """The default channel's release and, with a higher serial, beta's; returns their serials."""
        stable = self.publish(STABLE)
        self.assertNotIn("channel", stable)
        beta = self.publish(BETA, "--channel", "beta", "--serial", str(stable["serial"] + 1000))
        self.assertEqual(beta["channel"], "beta")
        self.assertNotIn("rollout", beta)
        return stable["serial"], beta["serial"]

    def assert_fetched(self, mark, routes, run):
        self.assertEqual(set(self.manifests_fetched(mark)), routes, run.describe())

    def serial_file(self, run_dir, name):
        path = e2e.local_path(run_dir.path, "Bin/Config/" + name)
        return int(read_file(path)) if os.path.exists(path) else None

    def test_a_channel_is_followed_remembered_and_left(self):
        stable_serial, beta_serial = self.publish_both()
        run_dir = self.installation(V1)

        # --channel beta reads beta's manifest alone and remembers the choice.
        mark = self.manifest_requests()
        run = self.check(run_dir, "--channel", "beta", code=UPDATE_WAITING)
        self.assert_fetched(mark, BETA_ROUTES, run)
        self.assertTrue(run.output.startswith(b"update: 3 files, "), run.describe())
        for name in listed("\\Bin\\beta.dat", "\\Bin\\core.dll", "\\Velmora.exe"):
            self.assertIn(name, run.output)
        self.assertEqual(self.remembered_channel(run_dir), "beta")
        lines = self.assert_logged(run, "check", manifest=True)
        self.assertTrue(run_log.lines_naming(lines, e2e.manifest_origin() + manifest_route("beta")),
                        f"no line names beta's manifest address:\n{run_log.describe(lines)}")
        self.assert_log_says(run, "channel", "beta", "option")

        # A later run without the option follows beta and takes its release.
        mark = self.manifest_requests()
        run = self.quiet(run_dir, code=UPDATED, watch=True)
        self.assert_fetched(mark, BETA_ROUTES, run)
        self.assert_files(run_dir, BETA)
        self.assert_log_says(run, "channel", "beta", "remembered")
        self.assertEqual(self.serial_file(run_dir, "UP.beta.serial"), beta_serial)
        self.assertIsNone(self.serial_file(run_dir, "UP.serial"), "beta's serial was kept as the default channel's")
        mark = self.manifest_requests()
        self.assert_fetched(mark, BETA_ROUTES, self.check(run_dir, code=UP_TO_DATE))

        # --channel default goes back: the default channel's manifest, whose serial is lower than
        # beta's, is taken; the choice is forgotten.
        mark = self.manifest_requests()
        run = self.check(run_dir, "--channel", "default", code=UPDATE_WAITING)
        self.assert_fetched(mark, DEFAULT_ROUTES, run)
        self.assertTrue(run.output.startswith(b"update: 2 files, "), run.describe())
        for name in listed("\\Bin\\core.dll", "\\Velmora.exe"):
            self.assertIn(name, run.output)
        self.assertIsNone(self.remembered_channel(run_dir))
        mark = self.manifest_requests()
        run = self.quiet(run_dir, code=UPDATED)
        self.assert_fetched(mark, DEFAULT_ROUTES, run)
        # beta.dat is no file of the default channel's release: it stays as beta left it.
        self.assert_files(run_dir, dict(STABLE, **{"Bin/beta.dat": BETA["Bin/beta.dat"]}))
        self.assertEqual(self.serial_file(run_dir, "UP.serial"), stable_serial)
        self.assertEqual(self.serial_file(run_dir, "UP.beta.serial"), beta_serial)
        self.check(run_dir, code=UP_TO_DATE)

    def test_a_name_that_is_no_channel_is_refused_before_anything_is_fetched(self):
        self.publish(STABLE)
        run_dir = self.installation(V1)
        # A channel that the site does not have is a name all the same: followed, and unreachable.
        run = self.check(run_dir, "--channel", "beta", code=UNREACHABLE)
        self.assertEqual(self.remembered_channel(run_dir), "beta")

        counter = ConnectionCounter()
        self.addCleanup(counter.stop)
        nowhere = {"http_proxy": counter.address}
        mark, files_before = self.manifest_requests(), len(self.site.files.requests())
        refusals = [("--check", "--channel", "Beta"), ("--check", "--channel", "../x"),
                    ("--check", "--channel", "a" * 17), ("--check", "--channel", "1beta"),
                    ("--check", "--channel", "beta-2"), ("--check", "--channel", ""), ("--check", "--channel"),
                    ("--check", "--channel", "beta", "--channel", "beta"), ("--quiet", "--channel", "Beta"),
                    ("--quiet", "--channel", "..\\..\\x"), ("--check", "--channel", "nightly", "--run"),
                    ("--rollback", "--channel", "nightly")]
        for arguments in refusals:
            run = self.run_updater(run_dir, *arguments, watch=False, env=nowhere)
            self.assert_exit(run, USAGE_ERROR)
            self.assertTrue(run.output.startswith(b"usage error"), run.describe())
            self.assert_logged(run, arguments[0].lstrip("-"), manifest=False)
        self.assertEqual(counter.count, 0, "a run with a name that is no channel made a connection")
        self.assertEqual(self.manifests_fetched(mark), [])
        self.assertEqual(len(self.site.files.requests()), files_before)
        self.assertEqual(self.remembered_channel(run_dir), "beta", "a refused name changed the remembered channel")
        self.assert_files(run_dir, V1)

        # 16 characters is a name.
        longest = "abcdefghijklmnop"
        mark = self.manifest_requests()
        run = self.check(run_dir, "--channel", longest, code=UNREACHABLE)
        self.assertEqual(set(self.manifests_fetched(mark)), {manifest_route(longest)}, run.describe())
        self.assertEqual(self.remembered_channel(run_dir), longest)

        # A remembered file that holds no channel name is ignored: the default channel.
        run_dir.write("Bin/Config/channel.txt", b"../x\n")
        mark = self.manifest_requests()
        run = self.check(run_dir, code=UPDATE_WAITING)
        self.assert_fetched(mark, DEFAULT_ROUTES, run)

    def test_the_policy_value_chooses_before_the_option_and_the_remembered_channel(self):
        remove_channel_policy()
        self.addCleanup(remove_channel_policy)
        self.publish_both()
        run_dir = self.installation(V1)

        set_channel("beta")
        mark = self.manifest_requests()
        run = self.check(run_dir, "--channel", "default", code=UPDATE_WAITING)
        self.assert_fetched(mark, BETA_ROUTES, run)
        self.assertTrue(run.output.startswith(b"update: 3 files, "), run.describe())
        self.assert_log_says(run, "channel", "beta", "policy")
        mark = self.manifest_requests()
        run = self.quiet(run_dir, code=UPDATED)
        self.assert_fetched(mark, BETA_ROUTES, run)
        self.assert_files(run_dir, BETA)

        # A policy value that is no channel name stops every run before anything is fetched.
        set_channel("Beta")
        counter = ConnectionCounter()
        self.addCleanup(counter.stop)
        for mode in ("--check", "--quiet"):
            run = self.run_updater(run_dir, mode, watch=False, env={"http_proxy": counter.address})
            self.assert_exit(run, USAGE_ERROR)
            self.assert_logged(run, mode.lstrip("-"), manifest=False)
        self.assertEqual(counter.count, 0)

        # "default" chooses the default channel over the remembered beta.
        set_channel("default")
        run_dir.write("Bin/Config/channel.txt", b"beta\n")
        mark = self.manifest_requests()
        run = self.check(run_dir, code=UPDATE_WAITING)
        self.assert_fetched(mark, DEFAULT_ROUTES, run)

        # Without the policy the remembered channel is followed again.
        remove_channel_policy()
        mark = self.manifest_requests()
        run = self.check(run_dir, code=UP_TO_DATE)
        self.assert_fetched(mark, BETA_ROUTES, run)

    # A value of any length is read whole, so a long one is refused like any other that is no name.
    def test_a_policy_value_too_long_for_a_channel_name_is_refused_as_well(self):
        remove_channel_policy()
        self.addCleanup(remove_channel_policy)
        run_dir = self.installation(V1)
        set_channel("b" * 300)
        counter = ConnectionCounter()
        self.addCleanup(counter.stop)
        run = self.run_updater(run_dir, "--check", "--channel", "beta", watch=False, env={"http_proxy": counter.address})
        self.assert_exit(run, USAGE_ERROR)
        self.assertEqual(counter.count, 0)

    def test_a_channels_manifest_served_in_another_channels_place_is_refused(self):
        beta = self.publish(BETA, "--channel", "beta")
        self.assertEqual(beta["channel"], "beta")
        manifest, signature = self.manifest_bytes("beta"), self.manifest_bytes("beta", ".sig")
        run_dir = self.installation(V1)
        files_before = len(self.site.files.requests())

        self.serve_manifest_route(manifest_route(), manifest)
        self.serve_manifest_route(manifest_route() + ".sig", signature)
        run = self.quiet(run_dir, code=MALFORMED, watch=True)
        self.assert_log_says(run, "channel", "beta")
        self.check(run_dir, code=MALFORMED)

        self.serve_manifest_route(manifest_route("nightly"), manifest)
        self.serve_manifest_route(manifest_route("nightly") + ".sig", signature)
        self.check(run_dir, "--channel", "nightly", code=MALFORMED)

        # "default" names the default channel in a manifest too; any other name, or a name that is
        # no text, is refused.
        def naming(value):
            text = manifest.replace(b'"channel":"beta"', b'"channel":' + value, 1)
            self.assertNotEqual(text, manifest)
            return text
        self.write_signed_manifest(naming(b'"default"'))
        self.check(run_dir, "--channel", "default", code=UPDATE_WAITING)
        self.write_signed_manifest(naming(b'"default"'), "beta")
        self.check(run_dir, "--channel", "beta", code=MALFORMED)
        self.write_signed_manifest(naming(b'"Beta"'), "beta")
        self.check(run_dir, code=MALFORMED)
        self.write_signed_manifest(naming(b"5"), "beta")
        self.check(run_dir, code=MALFORMED)

        self.assertEqual(len(self.site.files.requests()), files_before, "a file was fetched")
        self.assert_files(run_dir, V1)
        self.assertEqual(e2e.staging_leftovers(run_dir.path), [])

        # The hand-off file is read as before, whatever the channel.
        run_dir.write("Bin/Config/channel.txt", b"nightly\n")
        self.write_hand_off(run_dir, {name: value for name, value in beta.items() if name != "channel"})
        mark = self.manifest_requests()
        self.quiet(run_dir, "--handoff", code=UPDATED)
        self.assertEqual(self.manifests_fetched(mark), [])
        self.assert_files(run_dir, BETA)


if __name__ == "__main__":
    unittest.main()
