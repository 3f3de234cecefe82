"""Staged rollouts under Wine: a release that `velmora-release publish --rollout` staged reaches
exactly the installations whose place (computed here with the rule of docs/rollouts.md from each
installation's identifier and the release's rolloutSerial) is below the percentage times 100; each
run's log gives inside or outside and the place. `velmora-release rollout` widens the rollout without
taking the release from any installation that was inside, halts it at 0 for those that have not
taken it, and reaches everyone at 100. A rollout changed without the key is refused as a bad
signature; a rollout out of form, signed, as malformed."""

import os
import re
import subprocess
import unittest

from rollouts_support import (BAD_SIGNATURE, FAILED, INSTALLATION_ID, KEY, MALFORMED, PLACES, TOOL, UP_TO_DATE,
                              UPDATE_WAITING, UPDATED, RolloutsTestCase, e2e, installation_id_with_place, is_inside,
                              new_installation_id, read_file, rollout_answer, rollout_place)
from whole_release_support import NOTHING_TO_UPDATE

V1 = {"Velmora.exe": b"Velmora 1" * 1000, "Bin/core.dll": b"core 1" * 3000, "readme.txt": b"read me"}
V2 = {"Velmora.exe": b"Velmora 2" * 1000, "Bin/core.dll": b"core 2" * 3000, "readme.txt": b"read me"}
V3 = {"Velmora.exe": b"Velmora 3 beta" * 1000, "Bin/core.dll": b"core 3 beta" * 3000, "readme.txt": b"read me"}

# 40 installations at 50%: the number inside is binomial (40, 1/2). Bounds of 6 to 34 fail with a
# probability of 2 * P(X <= 5) = 1.4e-6 (about once in 720,000 runs); the exact answer of every
# installation is checked against its place besides.
INSTALLATIONS = 40
FEWEST_INSIDE, MOST_INSIDE = 6, 34
# --check runs made at once, each in a product folder of its own.
AT_ONCE = 4


class RolloutsTest(RolloutsTestCase):
    def answers(self, run_dirs, ids, seed, percent):
        """--check with each identifier of `ids` in turn, as many at once as there are `run_dirs`
        (product folders alike but for their identifiers); {identifier: inside}. Every answer (the
        exit code, the output, the log's inside or outside and place) must be the one that the
        identifier's place gives."""
        answers, wrong = {}, []
        for first in range(0, len(ids), len(run_dirs)):
            started = []
            for run_dir, installation_id in zip(run_dirs, ids[first:first + len(run_dirs)]):
                self.set_installation_id(run_dir, installation_id)
                started.append((run_dir, installation_id, self.start_run(run_dir, "--check", watch=False)))
            for run_dir, installation_id, pending in started:
                run = self.finish_run(run_dir, pending)
                place = rollout_place(installation_id, seed)
                inside = is_inside(place, percent)
                expected = (UPDATE_WAITING if inside else UP_TO_DATE, ("inside" if inside else "outside", place))
                got = (run.code, rollout_answer(run))
                output_fits = run.output.startswith(b"update: ") if inside else run.output == b"up to date\n"
                if got != expected or not output_fits:
                    wrong.append(f"{installation_id} (place {place}): expected exit code {expected[0]} and "
                                 f"{expected[1]}, got {got[0]} and {got[1]}; {run.describe()}")
                self.assertEqual(self.installation_id(run_dir), installation_id, "the run replaced a valid identifier")
                answers[installation_id] = run.code == UPDATE_WAITING
        self.assertEqual(wrong, [], f"{len(wrong)} of {len(ids)} installations answered against their place at "
                                    f"{percent}%:\n" + "\n".join(wrong))
        return answers

    def product_folders(self, release, count=AT_ONCE):
        return [self.installation(release) for _ in range(count)]

    def test_a_rollout_reaches_each_installation_by_its_place_and_widening_keeps_everyone_inside(self):
        published = self.publish(V2, "--rollout", "50")
        self.assertEqual((published["rollout"], published["rolloutSerial"]), (50, published["serial"]))
        seed = published["rolloutSerial"]

        # Installations that take the release, or not, at 50% (ids drawn for their places).
        early = self.installation(V1, installation_id_with_place(seed, 0, PLACES // 2))
        middle = self.installation(V1, installation_id_with_place(seed, PLACES // 2, PLACES * 8 // 10))
        late = self.installation(V1, installation_id_with_place(seed, PLACES * 8 // 10, PLACES))
        self.quiet(early, code=UPDATED, watch=True)
        self.assert_files(early, V2)
        run = self.quiet(middle, code=UP_TO_DATE)
        self.assertEqual(rollout_answer(run), ("outside", rollout_place(self.installation_id(middle), seed)),
                         run.describe())
        self.assert_files(middle, V1)

        ids = [new_installation_id() for _ in range(INSTALLATIONS)]
        folders = self.product_folders(V1)
        at_50 = self.answers(folders, ids, seed, 50)
        inside = sum(at_50.values())
        self.assertTrue(FEWEST_INSIDE <= inside <= MOST_INSIDE,
                        f"{inside} of {INSTALLATIONS} installations inside a rollout of 50%")

        widened = self.change_rollout(80)
        self.assertEqual((widened["rollout"], widened["rolloutSerial"]), (80, seed))
        self.assertGreater(widened["serial"], published["serial"])
        self.assertEqual(widened["data"], published["data"])
        at_80 = self.answers(folders, ids, seed, 80)
        taken_away = [installation_id for installation_id in ids if at_50[installation_id] and not at_80[installation_id]]
        self.assertEqual(taken_away, [], "inside at 50%, outside at 80%")

        self.quiet(early, code=UP_TO_DATE)
        self.assert_files(early, V2)
        self.quiet(middle, code=UPDATED)
        self.assert_files(middle, V2)
        self.quiet(late, code=UP_TO_DATE)
        self.assert_files(late, V1)

    def test_at_0_percent_nobody_and_at_100_everybody_and_a_halt_keeps_what_was_taken(self):
        published = self.publish(V2, "--rollout", "0")
        seed = published["rolloutSerial"]
        ids = [new_installation_id() for _ in range(8)]
        folders = self.product_folders(V1)
        self.assertEqual(self.answers(folders, ids, seed, 0), {installation_id: False for installation_id in ids})
        taker, waiting = self.installation(V1, new_installation_id()), self.installation(V1, new_installation_id())
        run = self.quiet(taker, code=UP_TO_DATE)
        self.assertEqual(rollout_answer(run)[0], "outside", run.describe())
        self.assert_files(taker, V1)
        # With the window: as when nothing is stale.
        kind, notice = self.start_until_settled(taker)
        self.assertEqual(kind, "notice", f"the window listed files outside the rollout: {notice}")
        self.assert_notice(notice, *NOTHING_TO_UPDATE, [e2e.IDOK])
        self.press_notice(e2e.IDOK)
        self.assertEqual(self.wine.wait(self.updater, timeout=30), 0)
        # The hand-off file is the product's own: its rollout means nothing.
        hand_off = self.installation(V1, new_installation_id())
        self.write_hand_off(hand_off, dict(published, rollout=0))
        self.quiet(hand_off, "--handoff", code=UPDATED)
        self.assert_files(hand_off, V2)

        self.assertEqual(self.change_rollout(100)["rollout"], 100)
        self.assertEqual(self.answers(folders, ids, seed, 100), {installation_id: True for installation_id in ids})
        self.quiet(taker, code=UPDATED, watch=True)
        self.assert_files(taker, V2)
        # An installation whose update fails keeps the verified file staged.
        core = self.file_route(published, "\\Bin\\core.dll")
        self.site.files.serve(core, b"gone", status=404)
        self.quiet(waiting, code=FAILED)
        staged = e2e.staging_leftovers(waiting.path)
        self.assertEqual([read_file(path) for path in staged], [V2["Velmora.exe"]])

        # Halted: the installation that took the release keeps it, the others are up to date, and
        # the staged file waits for the rollout to come back.
        self.assertEqual(self.change_rollout(0)["rollout"], 0)
        self.quiet(taker, code=UP_TO_DATE)
        self.assert_files(taker, V2)
        self.quiet(waiting, code=UP_TO_DATE)
        self.assertEqual(e2e.staging_leftovers(waiting.path), staged, "the staged file was not kept")
        self.assertEqual(self.answers(folders, ids, seed, 0), {installation_id: False for installation_id in ids})
        for folder in folders:
            self.assert_files(folder, V1)

        self.change_rollout(100)
        exe = self.file_route(published, "\\Velmora.exe")
        before = len(self.site.files.requests(exe))
        self.quiet(waiting, code=UPDATED)
        self.assert_files(waiting, V2)
        self.assertEqual(len(self.site.files.requests(exe)), before, "the staged file was fetched again")

    def test_an_installation_draws_its_identifier_once_and_replaces_a_malformed_one(self):
        seed = self.publish(V2, "--rollout", "50")["rolloutSerial"]
        run_dir = self.installation(V1)

        def answered_by_its_place():
            run = self.check(run_dir)
            installation_id = self.installation_id(run_dir)
            self.assertRegex(installation_id, "^[0-9a-f]{32}$")
            place = rollout_place(installation_id, seed)
            inside = is_inside(place, 50)
            self.assertEqual((run.code, rollout_answer(run)), (UPDATE_WAITING if inside else UP_TO_DATE,
                                                               ("inside" if inside else "outside", place)),
                             run.describe())
            return installation_id

        drawn = answered_by_its_place()
        self.assertEqual(answered_by_its_place(), drawn, "the identifier was drawn again")
        for malformed in (b"0123456789ABCDEF0123456789ABCDEF\n", b"0" * 31 + b"\n", b"0" * 33, b"g" * 32, b""):
            run_dir.write(INSTALLATION_ID, malformed)
            replaced = answered_by_its_place()
            self.assertNotEqual(replaced.encode(), malformed.strip())
            self.assertNotEqual(replaced, drawn)

    def test_a_channels_rollout_is_its_own(self):
        self.publish(V2)
        default_manifest = self.manifest_bytes()
        beta = self.publish(V3, "--channel", "beta", "--rollout", "0")
        follower = self.installation(V1, new_installation_id())
        run = self.check(follower, "--channel", "beta", code=UP_TO_DATE)
        self.assertEqual(rollout_answer(run), ("outside", rollout_place(self.installation_id(follower),
                                                                         beta["rolloutSerial"])), run.describe())

        widened = self.change_rollout(100, channel="beta")
        self.assertEqual((widened["channel"], widened["rollout"], widened["rolloutSerial"]),
                         ("beta", 100, beta["rolloutSerial"]))
        self.assertEqual(self.manifest_bytes(), default_manifest, "the default channel's manifest changed")
        self.quiet(follower, code=UPDATED)
        self.assert_files(follower, V3)
        other = self.installation(V2, new_installation_id())
        self.check(other, code=UP_TO_DATE)

    def test_a_rollout_changed_without_the_key_is_refused(self):
        published = self.publish(V2, "--rollout", "10")
        seed = published["rolloutSerial"]
        manifest = self.manifest_bytes()
        run_dir = self.installation(V1, installation_id_with_place(seed, PLACES // 10, PLACES))
        files_before = len(self.site.files.requests())

        def edited(pattern, replacement):
            text, count = re.subn(pattern, replacement, manifest)
            self.assertEqual(count, 1, f"{pattern!r} in {manifest!r}")
            return text

        # Widened to 100 by editing the manifest; the signature is the old one.
        tampered = edited(rb'"rollout":\s*10\b', b'"rollout":100')
        with open(self.manifest_file(), "wb") as out:
            out.write(tampered)
        self.serve()
        self.check(run_dir, code=BAD_SIGNATURE)
        run = self.quiet(run_dir, code=BAD_SIGNATURE)
        self.assert_log_says(run, "signature")
        # The tool will not re-sign it either: its signature is not the key's.
        done = subprocess.run([TOOL, "rollout", self.tree, "--percent", "100", "--key", KEY],
                              capture_output=True, text=True, timeout=120)
        self.assertNotEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertEqual(self.manifest_bytes(), tampered)

        # Signed, but out of form: malformed.
        for pattern, replacement in ((rb'"rollout":\s*10\b', b'"rollout":101'),
                                     (rb'"rollout":\s*10\b', b'"rollout":-1'),
                                     (rb'"rollout":\s*10\b', b'"rollout":"100"'),
                                     (rb'"rollout":\s*10\b', b'"rollout":50.5'),
                                     (rb'"rolloutSerial":\s*\d+', b'"rolloutSerial":"1"')):
            self.write_signed_manifest(edited(pattern, replacement))
            run = self.check(run_dir)
            self.assertEqual(run.code, MALFORMED, f"{replacement!r}: {run.describe()}")

        self.assertEqual(len(self.site.files.requests()), files_before, "a file was fetched")
        self.assert_files(run_dir, V1)
        self.assertFalse(os.path.exists(e2e.local_path(run_dir.path, "Bin/Config/UP.serial")), "a manifest was accepted")


if __name__ == "__main__":
    unittest.main()
