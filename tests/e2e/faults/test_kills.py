"""The updater killed from outside at random moments under Wine (20 fixed seeds, so every run of
the tests kills at the same moments): while files arrive, while they are checked and put in place,
while the next rows start. After each kill every product file is its old or its new self, with at
most staging files that begin their file; a new run then completes the update."""

import random
import signal
import time
import unittest

from faults_support import FaultsTestCase, e2e, file_server

SEEDS = range(1, 21)
# Kill moments are drawn from this many seconds after the start button: about one whole run.
KILL_WINDOW_SECONDS = 6.0


class KillsTest(FaultsTestCase):
    def entries_for(self, run_dir):
        # Two slow files keep both workers busy for a while; the small ones are put in place one
        # after another, so a kill lands among replacements as often as among transfers.
        slow = dict(behaviour=file_server.DRIP, step=32 * 1024, interval=0.1)
        entries = [self.entry(run_dir, f"\\Data\\slow{n}.pak", file_server.Pattern(600 * 1024 + n).bytes(),
                              old=b"old slow %d" % n, **slow) for n in (1, 2)]
        entries += [self.entry(run_dir, f"\\Bin\\part{n:02}.dll", file_server.Pattern(48 * 1024 + 101 * n).bytes(),
                               old=(b"old part %d" % n) if n % 3 else None) for n in range(1, 11)]
        return entries

    def test_a_killed_updater_never_leaves_a_broken_file_and_the_next_run_completes(self):
        moments = []
        for seed in SEEDS:
            with self.subTest(seed=seed):
                moments.append(self.kill_and_complete(seed))
        print("\n" + "\n".join(moments))

    def kill_and_complete(self, seed):
        run_dir = self.make_run_directory()
        entries = self.entries_for(run_dir)
        delay = random.Random(seed).uniform(0.0, KILL_WINDOW_SECONDS)
        self.start_updater(run_dir, entries)
        self.press_start()
        time.sleep(delay)
        self.updater.send_signal(signal.SIGKILL)
        self.updater.wait(timeout=30)
        self.assert_old_or_new(run_dir, entries)
        new = [entry for entry in entries if self.content_or_none(entry["local"]) == entry["new"]]
        staged = [entry for entry in entries if self.staged(entry) is not None]

        stale = [entry for entry in entries if entry not in new]
        if stale:
            notice, rows = self.run_update(run_dir, entries, listed=stale)
            self.assertEqual([row[e2e.COLUMN_STATUS] for row in rows], [e2e.STATUS_SUCCEEDED] * len(stale),
                             f"seed {seed}")
            self.assert_success_notice(notice)
            self.end_run()
        for entry in entries:
            self.assertEqual(self.content(entry["local"]), entry["new"], f"seed {seed}: {entry['path']}")
        self.assert_old_or_new(run_dir, entries, pending=False)
        self.wine.end_all()
        run_dir.cleanup()
        return (f"seed {seed:2}: killed {delay:.2f} s after the start button with {len(new)} of {len(entries)} "
                f"files new and {len(staged)} staged")

    def content_or_none(self, path):
        try:
            return self.content(path)
        except FileNotFoundError:
            return None


if __name__ == "__main__":
    unittest.main()
