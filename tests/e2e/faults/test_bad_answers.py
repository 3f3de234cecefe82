"""Answers that are not the file, under Wine, in one run: a wrong file, 404 and 500, beside a file
that arrives intact and one whose body runs on past its announced length (the announced bytes are
the file: WinINet reads no further). Each failed row has its status, the notice counts them, and
every product file keeps its old bytes, even those whose rows succeeded: their verified files stay
staged for the next run."""

import unittest

from faults_support import FaultsTestCase, e2e, file_server


class BadAnswersTest(FaultsTestCase):
    def test_answers_that_are_not_the_file_leave_the_old_files(self):
        run_dir = self.make_run_directory()
        data = file_server.Pattern(200 * 1024).bytes()
        longer = self.entry(run_dir, "\\longer.dll", data, old=b"old longer", behaviour=file_server.OVERSIZED,
                            extra=b"x" * 50000)
        wrong = self.entry(run_dir, "\\wrong.dll", data, old=b"old wrong", md5=e2e.md5_hex(b"the listed file"))
        missing = self.entry(run_dir, "\\missing.dll", b"not found", old=b"old missing", status=404,
                             md5=e2e.md5_hex(b"missing"))
        broken = self.entry(run_dir, "\\broken.dll", b"internal error", old=b"old broken", status=500,
                            md5=e2e.md5_hex(b"broken"))
        good = self.entry(run_dir, "\\good.dll", data[:70000], old=b"old good")
        entries = [longer, wrong, missing, broken, good]

        notice, rows = self.run_update(run_dir, entries)
        self.assertEqual([row[e2e.COLUMN_STATUS] for row in rows],
                         [e2e.STATUS_SUCCEEDED, e2e.STATUS_DIGEST_MISMATCH, e2e.STATUS_BAD_ADDRESS,
                          e2e.STATUS_BAD_ADDRESS, e2e.STATUS_SUCCEEDED])
        self.assert_failure_notice(notice, 3)
        self.end_run(e2e.IDOK)
        self.assert_untouched(entries)
        self.assertEqual(sorted(e2e.staging_leftovers(run_dir.path)),
                         sorted([e2e.staging_path(longer), e2e.staging_path(good)]))
        self.assertEqual(self.staged(longer), longer["new"])
        self.assertEqual(self.staged(good), good["new"])
        # A wrong file is not fetched twice; the error answers were asked once more through the
        # plain client (the fallback).
        self.assertEqual(len(self.server.requests(longer["route"])), 1)
        self.assertEqual(len(self.server.requests(wrong["route"])), 1)
        self.assertEqual(len(self.server.requests(missing["route"])), 2)
        self.assertEqual(len(self.server.requests(broken["route"])), 2)
        self.assert_old_or_new(run_dir, entries)
        self.assert_settled(run_dir, entries)


if __name__ == "__main__":
    unittest.main()
