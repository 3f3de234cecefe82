"""The updater killed from outside at 20 seeded moments of an update of 300 small files, under Wine.
A first, whole run measures when the commit comes after the start button (while its journal
exists); then every other seed kills within that commit and the others anywhere in the run. After
each kill the next start of the updater first finishes or undoes the interrupted commit: when its
grid or its notice appears the folder is wholly old (every file listed again) or wholly new
(nothing to update), no journal is left, and the run completes the update. In every fourth seed
whose kill lands within the commit one staged file still waiting is spoiled before the next start:
that commit can only be undone, so the folder must be wholly old."""

import os
import random
import signal
import threading
import time
import unittest

from whole_release_support import NOTHING_TO_UPDATE, WholeReleaseTestCase, e2e, file_server

SEEDS = range(1, 21)
FILE_COUNT = 300
# Kills meant for the commit land this much before its measured start up to as much after its end.
COMMIT_MARGIN_SECONDS = 0.15


class JournalWatch:
    """Looks for the journal of `run_dir` every few milliseconds on a thread of its own: the first and
    the last moment it was seen, in seconds since `started`."""

    def __init__(self, run_dir, started):
        self.path = e2e.local_path(run_dir.path, e2e.JOURNAL)
        self.started = started
        self.first = self.last = None
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        while not self._stop.wait(0.002):
            if os.path.exists(self.path):
                now = time.monotonic() - self.started
                self.first = now if self.first is None else self.first
                self.last = now

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
        commit, run_seconds = self.measure_run()
        lines = [f"measured run: commit from {commit[0]:.2f} s to {commit[1]:.2f} s after the start button, "
                 f"notice at {run_seconds:.2f} s"]
        inside = 0
        for seed in SEEDS:
            with self.subTest(seed=seed):
                chance = random.Random(seed)
                if seed % 2 == 0:
                    delay = chance.uniform(max(commit[0] - COMMIT_MARGIN_SECONDS, 0), commit[1] + COMMIT_MARGIN_SECONDS)
                else:
                    delay = chance.uniform(0.0, commit[1])
                line, in_commit = self.kill_and_complete(seed, delay)
                inside += in_commit
                lines.append(line)
        lines.append(f"{inside} of {len(SEEDS)} kills landed inside the commit (its journal was there after the kill)")
        print("\n" + "\n".join(lines))

    def measure_run(self):
        """One whole update, timed: ((the first, the last moment its journal was seen), the notice's
        moment), in seconds after the start button. Nothing reads the window until the journal has
        come and gone, so the run goes as fast as the runs that are killed."""
        run_dir = self.make_run_directory()
        entries = self.entries_for(run_dir)
        self.start_listed(run_dir, entries)
        started = self.press_start()
        watch = JournalWatch(run_dir, started)
        try:
            deadline = started + 120
            while not (watch.first is not None and not os.path.exists(watch.path)):
                if time.monotonic() - started > 5 and self.notice():
                    break  # a run without a commit, or one whose journal came and went unseen
                self.assertLess(time.monotonic(), deadline, "the commit did not end within 120 s")
                time.sleep(0.5 if time.monotonic() - started > 5 else 0.01)
        finally:
            watch.stop()
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
        self.assertIsNotNone(watch.first, "the commit's journal was never seen")
        self.wine.end_all()
        run_dir.cleanup()
        return (watch.first, watch.last), notice_seconds

    def kill_and_complete(self, seed, delay):
        self.wine.end_all()  # whatever a failed seed left running
        run_dir = self.make_run_directory()
        entries = self.entries_for(run_dir)
        self.start_listed(run_dir, entries)
        started = self.press_start()
        time.sleep(max(started + delay - time.monotonic(), 0))
        self.updater.send_signal(signal.SIGKILL)
        self.updater.wait(timeout=30)
        in_commit = os.path.exists(e2e.local_path(run_dir.path, e2e.JOURNAL))
        after_kill = self.which_release(entries)
        if not in_commit:
            # No commit under way: every file is its old or its new self, with at most staging files.
            self.assert_old_or_new(run_dir, entries)
        staged = [entry for entry in entries if self.staged(entry) is not None]
        spoiled = None
        if in_commit and seed % 4 == 0 and staged:
            # A staged file that no longer verifies: the commit cannot be finished, only undone.
            spoiled = staged[len(staged) // 2]
            data = bytearray(self.staged(spoiled))
            data[30] ^= 0xFF
            with open(e2e.staging_path(spoiled), "wb") as out:
                out.write(data)

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
            self.assertEqual((shown["mainInstruction"], shown["content"]), NOTHING_TO_UPDATE, f"seed {seed}")
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
        line = (f"seed {seed:2}: killed {delay:.2f} s after the start button, "
                f"{'inside the commit' if in_commit else 'outside a commit'}, folder {after_kill} with {len(staged)} "
                f"staged{'; one staged file spoiled' if spoiled else ''}; the next start found it {at_start}")
        return line, in_commit


if __name__ == "__main__":
    unittest.main()
