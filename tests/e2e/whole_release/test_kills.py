"""The updater killed from outside at 20 seeded moments of an update of 300 small files, under Wine.
A first, whole run measures when the commit's preparation starts (the next kept folder appears) and
when its journal exists. Then the seeds kill: one in two at a moment anywhere from the start button
to the measured commit's end; one in four a seeded time after the preparation begins, up to a
little past its measured length; one in four once the journal exists and a seeded file has gone
into place (its staging file is gone), so that these kills land inside the commit whatever the
machine's pace. After each kill the next start of the updater first finishes or undoes the
interrupted commit: when its grid or its notice appears the folder is wholly old (every file listed
again) or wholly new (nothing to update), no journal is left, and the run completes the update.
When a kill of seed 8 or 16 inside the commit left staged files waiting, one of them is spoiled
before the next start: that commit can only be undone, so the folder must be wholly old; the other
kills inside the commit are finished forward. After two kills the next start is --rollback, which
recovers before it asks anything."""

import os
import random
import signal
import threading
import time
import unittest

from whole_release_support import (NOTHING_TO_UPDATE, ROLLBACK_MAIN, ROLLBACK_NOTHING_KEPT, ROLLBACK_QUESTION,
                                   WholeReleaseTestCase, e2e, file_server)

SEEDS = range(1, 21)
FILE_COUNT = 300
# After these seeds' kills the next start is --rollback (one kill is timed after the preparation
# begins, one lands inside the commit), then the start with the hand-off manifest.
ROLLBACK_SEEDS = (10, 20)


class Sightings:
    """Looks for paths below `run_dir` every few milliseconds on a thread of its own: the first and
    the last moment each was seen, in seconds since `started`."""

    def __init__(self, run_dir, started, *relatives):
        self.paths = {relative: e2e.local_path(run_dir.path, relative) for relative in relatives}
        self.started = started
        self.first = {relative: None for relative in relatives}
        self.last = dict(self.first)
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        while not self._stop.wait(0.001):
            now = time.monotonic() - self.started
            for relative, path in self.paths.items():
                if os.path.exists(path):
                    self.first[relative] = now if self.first[relative] is None else self.first[relative]
                    self.last[relative] = now

    def stop(self):
        self._stop.set()
        self._thread.join(timeout=5)


class KillsTest(WholeReleaseTestCase):
    def entries_for(self, run_dir):
        # Small files in a few folders (some of them new), one in five added by the release.
        entries = []
        for n in range(FILE_COUNT):
            folder = ("Bin", "Bin\\Plugins", "Data\\Maps", "资源\\界面")[n % 4]
            new = b"part %03d, new release\n" % n + file_server.Pattern(1024 + 37 * n).bytes()
            old = None if n % 5 == 0 else b"part %03d, old release\n" % n
            entries.append(self.entry(run_dir, f"\\{folder}\\part{n:03}.dat", new, old=old))
        return entries

    def start_listed(self, run_dir, entries):
        """Starts the updater on `entries` and waits until it lists them all, reading only the first
        and the last row."""
        e2e.write_hand_off_entries(run_dir, entries)
        kind, grid = self.start_until_settled(run_dir, "--from-product", rows=1)
        self.assertEqual(kind, "grid", grid)
        self.assert_listed(grid, entries)

    def assert_listed(self, grid, entries, message=""):
        self.assertEqual(grid["rowCount"], len(entries), message)
        last = self.grid_rows(len(entries) - 1, 1)["rows"]
        self.assertEqual([row[e2e.COLUMN_PATH] for row in grid["rows"][:1] + last],
                         [entries[0]["path"], entries[-1]["path"]], message)

    def test_a_killed_update_is_wholly_old_or_wholly_new_at_the_next_start(self):
        measured = self.measure_run()
        prepared, journal_first, journal_last, notice_seconds = measured
        lines = [f"measured run: preparation from {prepared:.3f} s, journal from {journal_first:.3f} s to "
                 f"{journal_last:.3f} s after the start button, notice at {notice_seconds:.2f} s"]
        inside = preparing = 0
        for seed in SEEDS:
            with self.subTest(seed=seed):
                chance = random.Random(seed)
                if seed % 2:
                    kill = ("time", chance.uniform(0.0, journal_last))
                elif seed % 4 == 2:
                    kill = ("preparation", chance.uniform(0.0, journal_first - prepared + 0.05))
                else:
                    kill = ("progress", chance.randrange(FILE_COUNT - 1))
                line, in_commit, in_preparation = self.kill_and_complete(seed, kill)
                inside += in_commit
                preparing += in_preparation
                lines.append(line)
        lines.append(f"{inside} of {len(SEEDS)} kills landed inside the commit (its journal was there after the "
                     f"kill), {preparing} in its preparation (the next kept folder without a journal)")
        print("\n" + "\n".join(lines))

    def measure_run(self):
        """One whole update, timed in seconds after the start button: the moment the preparation of
        its commit starts (the next kept folder appears), the first and the last moment its journal
        exists, and the moment of the notice. Nothing reads the window until the journal has come and
        gone, so the run goes as fast as the runs that are killed."""
        run_dir = self.make_run_directory()
        entries = self.entries_for(run_dir)
        self.start_listed(run_dir, entries)
        started = self.press_start()
        seen = Sightings(run_dir, started, e2e.KEPT_RELEASE_NEW, e2e.JOURNAL)
        try:
            deadline = started + 120
            while seen.first[e2e.JOURNAL] is None or os.path.exists(seen.paths[e2e.JOURNAL]):
                if time.monotonic() - started > 5 and self.notice():
                    break  # a run without a commit, or one whose journal came and went unseen
                self.assertLess(time.monotonic(), deadline, "the commit did not end within 120 s")
                time.sleep(0.5 if time.monotonic() - started > 5 else 0.01)
        finally:
            seen.stop()
        notice = self.wait_for_notice()
        notice_seconds = time.monotonic() - started
        statuses = {row[e2e.COLUMN_STATUS] for row in self.grid_rows()["rows"]}
        self.assertEqual(statuses, {e2e.STATUS_SUCCEEDED})
        self.assert_success_notice(notice)
        self.end_run()
        self.assert_wholly(entries, "new")
        self.assert_no_leftovers(run_dir)
        self.assert_old_or_new(run_dir, entries, pending=False)
        self.assert_kept(run_dir, entries)
        self.assertIsNotNone(seen.first[e2e.JOURNAL], "the commit's journal was never seen")
        self.assertIsNotNone(seen.first[e2e.KEPT_RELEASE_NEW], "the next kept folder was never seen")
        self.wine.end_all()
        run_dir.cleanup()
        return (seen.first[e2e.KEPT_RELEASE_NEW], seen.first[e2e.JOURNAL], seen.last[e2e.JOURNAL], notice_seconds)

    def wait_for_path(self, path, present=True, timeout=60):
        """The moment (time.monotonic) `path` first exists (or, not `present`, no longer exists),
        looked at every millisecond; None when that did not come within `timeout` seconds or the
        updater ended."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and self.updater.poll() is None:
            if os.path.exists(path) == present:
                return time.monotonic()
            time.sleep(0.001)
        return None

    def kill_and_complete(self, seed, kill):
        """Kills the updater at the moment `kill` names: ("time", seconds after the start button),
        ("preparation", seconds after the next kept folder appears) or ("progress", n: as soon as the
        staged file of entry n has gone into place, once the journal exists); then starts it again
        and completes the update."""
        self.wine.end_all()  # whatever a failed seed left running
        run_dir = self.make_run_directory()
        entries = self.entries_for(run_dir)
        self.start_listed(run_dir, entries)
        started = self.press_start()
        how, value = kill
        if how == "time":
            time.sleep(max(started + value - time.monotonic(), 0))
            moment = "after the start button"
        elif how == "preparation":
            base = self.wait_for_path(e2e.local_path(run_dir.path, e2e.KEPT_RELEASE_NEW))
            self.assertIsNotNone(base, f"seed {seed}: the next kept folder never appeared")
            time.sleep(max(base + value - time.monotonic(), 0))
            moment = f"{value:.3f} s after the preparation began"
        else:
            self.assertIsNotNone(self.wait_for_path(e2e.local_path(run_dir.path, e2e.JOURNAL)),
                                 f"seed {seed}: the journal never appeared")
            self.wait_for_path(e2e.staging_path(entries[value]), present=False, timeout=30)
            moment = f"once {entries[value]['path']} went into place"
        self.updater.send_signal(signal.SIGKILL)
        killed = time.monotonic() - started
        self.updater.wait(timeout=30)
        in_commit = os.path.exists(e2e.local_path(run_dir.path, e2e.JOURNAL))
        in_preparation = not in_commit and os.path.exists(e2e.local_path(run_dir.path, e2e.KEPT_RELEASE_NEW))
        after_kill = self.which_release(entries)
        if not in_commit:
            # No commit under way: every file is its old or its new self, with at most staging files.
            self.assert_old_or_new(run_dir, entries)
        staged = [entry for entry in entries if self.staged(entry) is not None]
        spoiled = None
        if in_commit and staged and seed % 8 == 0:
            # A staged file that no longer verifies: the commit cannot be finished, only undone.
            spoiled = staged[len(staged) // 2]
            data = bytearray(self.staged(spoiled))
            data[30] ^= 0xFF
            os.makedirs(os.path.dirname(e2e.staging_path(spoiled)), exist_ok=True)
            with open(e2e.staging_path(spoiled), "wb") as out:
                out.write(data)

        via_rollback = seed in ROLLBACK_SEEDS
        if via_rollback:
            # The next start is --rollback, which recovers first too: it offers the release the
            # recovery kept, or says that nothing is kept; Cancel or OK leaves the folder as it is.
            kind, shown = self.start_until_settled(run_dir, "--rollback")
            at_rollback = self.which_release(entries)
            self.assertEqual(e2e.commit_state_left(run_dir.path), [], f"seed {seed}: after --rollback started")
            self.assertIn(at_rollback, ("old", "new"), f"seed {seed}: when --rollback showed its {kind}")
            if spoiled:
                self.assertEqual(at_rollback, "old", f"seed {seed}: the commit was finished with {spoiled['path']} "
                                 f"spoiled")
            if at_rollback == "new":
                self.assert_notice(shown, ROLLBACK_MAIN, ROLLBACK_QUESTION, [e2e.IDOK, e2e.IDCANCEL])
                self.press_notice(e2e.IDCANCEL)
            else:
                self.assert_notice(shown, ROLLBACK_MAIN, ROLLBACK_NOTHING_KEPT, [e2e.IDOK])
                self.press_notice(e2e.IDOK)
            self.assertEqual(self.wine.wait(self.updater, timeout=30), 0)
            self.assert_wholly(entries, at_rollback, f"seed {seed}: after --rollback")

        # The next start settles on the folder as one release or the other.
        e2e.write_hand_off_entries(run_dir, entries)
        kind, shown = self.start_until_settled(run_dir, "--from-product", rows=1)
        at_start = self.which_release(entries)
        self.assertEqual(e2e.commit_state_left(run_dir.path), [], f"seed {seed}: after the next start")
        self.assertIn(at_start, ("old", "new"), f"seed {seed}: when the next start showed its {kind}")
        if spoiled:
            self.assertEqual(at_start, "old", f"seed {seed}: the commit was finished with {spoiled['path']} spoiled")
        if at_start == "new":
            self.assertEqual(kind, "notice", f"seed {seed}: the folder is new, yet rows are listed")
            self.assert_notice(shown, *NOTHING_TO_UPDATE, [e2e.IDOK])
            self.press_notice(e2e.IDOK)
            self.assertEqual(self.wine.wait(self.updater, timeout=30), 0)
        else:
            self.assertEqual(kind, "grid", f"seed {seed}: the folder is old, yet {shown}")
            self.assert_listed(shown, entries, f"seed {seed}")
            self.press_start()
            # The success notice comes only when every row succeeded.
            self.assert_success_notice(self.wait_for_notice())
            self.end_run()
        self.assert_wholly(entries, "new", f"seed {seed}")
        self.assert_no_leftovers(run_dir)
        self.assert_old_or_new(run_dir, entries, pending=False)
        self.assert_kept(run_dir, entries)
        self.wine.end_all()
        run_dir.cleanup()
        where = "inside the commit" if in_commit else "in the preparation" if in_preparation else "outside a commit"
        line = (f"seed {seed:2}: killed {killed:.3f} s after the start button ({moment}), {where}, "
                f"folder {after_kill} with {len(staged)} staged{'; one staged file spoiled' if spoiled else ''}; "
                f"{'--rollback, then ' if via_rollback else ''}the next start found it {at_start}")
        return line, in_commit, in_preparation


if __name__ == "__main__":
    unittest.main()
