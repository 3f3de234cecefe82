"""Withdrawing a bad release under Wine, as docs/rollouts.md tells a publisher: publish the previous
release again with a serial higher than the bad one's. An installation that took the bad release is
brought back to the previous release's files by its next quiet run (and keeps the bad files as its
previous release); one that never took it is up to date; the bad manifest, served again, is older
than the one accepted."""

import unittest

from rollouts_support import OLDER, UP_TO_DATE, UPDATED, RolloutsTestCase, e2e, manifest_route, read_file

OLD = {"Velmora.exe": b"Velmora 0" * 1000, "Bin/core.dll": b"core 0" * 3000, "readme.txt": b"read me 0"}
GOOD = {"Velmora.exe": b"Velmora 1" * 1000, "Bin/core.dll": b"core 1" * 3000, "readme.txt": b"read me 1"}
BAD = {"Velmora.exe": b"Velmora 2, bad" * 1000, "Bin/core.dll": b"core 2, bad" * 3000, "readme.txt": b"read me 1"}
CHANGED = ["\\Bin\\core.dll", "\\Velmora.exe"]


class WithdrawalTest(RolloutsTestCase):
    def serial_of(self, run_dir):
        return int(read_file(e2e.local_path(run_dir.path, "Bin/Config/UP.serial")))

    def test_a_withdrawn_release_is_replaced_by_the_previous_one_published_again(self):
        good = self.publish(GOOD)
        taker = self.installation(OLD)
        bystander = self.installation(OLD)
        for run_dir in (taker, bystander):
            self.quiet(run_dir, code=UPDATED)
            self.assert_files(run_dir, GOOD)

        bad = self.publish(BAD)
        self.assertGreaterEqual(bad["serial"], good["serial"])
        bad_manifest, bad_signature = self.manifest_bytes(), self.manifest_bytes(suffix=".sig")
        self.quiet(taker, code=UPDATED)
        self.assert_files(taker, BAD)

        again = self.publish(GOOD, "--serial", str(bad["serial"] + 1))
        self.assertEqual(again["data"], good["data"], "the same release, the same entries")
        run = self.quiet(taker, code=UPDATED, watch=True)
        self.assert_files(taker, GOOD)
        self.assert_logged(run, "quiet", CHANGED, manifest=True)
        self.assertEqual(e2e.kept_files(taker.path), {"Velmora.exe": BAD["Velmora.exe"],
                                                     "Bin/core.dll": BAD["Bin/core.dll"]})
        self.assertEqual(e2e.commit_state_left(taker.path), [])
        self.assertEqual(e2e.staging_leftovers(taker.path), [])
        self.assertEqual(self.serial_of(taker), again["serial"])
        self.check(taker, code=UP_TO_DATE)

        files_before = len(self.site.files.requests())
        self.quiet(bystander, code=UP_TO_DATE)
        self.check(bystander, code=UP_TO_DATE)
        self.assert_files(bystander, GOOD)
        self.assertEqual(len(self.site.files.requests()), files_before, "the installation that never took the bad "
                                                                        "release fetched a file")

        # The bad manifest served again is older than the one each installation accepted.
        self.serve_manifest_route(manifest_route(), bad_manifest)
        self.serve_manifest_route(manifest_route() + ".sig", bad_signature)
        for run_dir in (taker, bystander):
            self.quiet(run_dir, code=OLDER)
            self.assert_files(run_dir, GOOD)


if __name__ == "__main__":
    unittest.main()
