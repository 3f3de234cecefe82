"""Faults on the product's side, under Wine: the disk fills up while a file is written (a small
tmpfs mounted as a Wine drive holds the run directory), and a product file is read-only. The row
fails with "不能打开本地文件" and leaves no staging file; every old file stays, also those of rows
that succeeded, whose verified files stay staged for the next run."""

import os
import shutil
import stat
import subprocess
import tempfile
import unittest

from faults_support import FaultsTestCase, e2e, file_server

MEBIBYTE = 1 << 20


def wine_prefix():
    return os.environ.get("VELMORA_WINEPREFIX") or os.path.join(e2e.SOURCE_DIR, "build", "wine-prefix")


class DriveRunDirectory(e2e.RunDirectory):
    """A run directory at the root of a small tmpfs that Wine sees as its own drive: the program
    is started by its drive-letter path, so the run directory is "<letter>:\\run". The drive has
    room for the program and `megabytes` more."""

    def __init__(self, test, megabytes):  # a folder of its own: RunDirectory.__init__ is not called
        self.mount_point = tempfile.mkdtemp(prefix="velmora-small-disk-", dir=os.path.dirname(e2e.WINDOWS_BUILD_DIR))
        test.addCleanup(os.rmdir, self.mount_point)
        size = megabytes + -(-os.path.getsize(e2e.PROGRAM) // MEBIBYTE)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}m", "tmpfs", self.mount_point],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        if mounted.returncode != 0:
            test.skipTest(f"a tmpfs cannot be mounted here: {mounted.stderr.strip()}")
        test.addCleanup(subprocess.run, ["umount", "-l", self.mount_point], check=False)
        devices = os.path.join(wine_prefix(), "dosdevices")
        letter = next((c for c in "yxwvutsrq" if not os.path.lexists(os.path.join(devices, c + ":"))), None)
        if letter is None:
            test.skipTest("no free drive letter in the Wine prefix")
        os.symlink(self.mount_point, os.path.join(devices, letter + ":"))
        test.addCleanup(os.unlink, os.path.join(devices, letter + ":"))
        self.path = os.path.join(self.mount_point, "run")
        os.makedirs(self.path)
        self.program_file = os.path.join(self.path, "velmora-update.exe")
        shutil.copy2(e2e.PROGRAM, self.program_file)
        self.program = letter.upper() + ":\\run\\velmora-update.exe"

    def fill(self, leave):
        """Fills the disk until `leave` bytes are free."""
        free = shutil.disk_usage(self.mount_point).free
        self.write("filler.bin", b"\0" * max(free - leave, 0))
        return shutil.disk_usage(self.mount_point).free


class LocalFaultsTest(FaultsTestCase):
    def test_a_full_disk_fails_the_row_and_leaves_the_old_file(self):
        run_dir = DriveRunDirectory(self, megabytes=16)
        large = self.entry(run_dir, "\\Bin\\large.pak", file_server.Pattern(3 * MEBIBYTE).bytes(), old=b"old large")
        free = run_dir.fill(leave=MEBIBYTE)
        notice, rows = self.run_update(run_dir, [large])
        print(f"\n{free} bytes free for a {len(large['new'])}-byte file; status {rows[0][e2e.COLUMN_STATUS]}")
        self.assertEqual(rows[0][e2e.COLUMN_STATUS], e2e.STATUS_LOCAL_FILE)
        self.assert_failure_notice(notice, 1)
        self.end_run(e2e.IDOK)
        self.assertEqual(self.content(large["local"]), large["old"])
        # The staging file was removed: the room it took is free again.
        self.assertGreaterEqual(shutil.disk_usage(run_dir.mount_point).free, free - 64 * 1024)
        os.unlink(os.path.join(run_dir.path, "filler.bin"))
        self.assert_old_or_new(run_dir, [large], pending=False)

    def test_a_read_only_file_counts_as_locked_and_is_left_as_it_is(self):
        run_dir = self.make_run_directory()
        fixed = self.entry(run_dir, "\\Bin\\fixed.dll", file_server.Pattern(50000).bytes(), old=b"old fixed")
        other = self.entry(run_dir, "\\Bin\\other.dll", file_server.Pattern(40000).bytes(), old=b"old other")
        os.chmod(fixed["local"], stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
        notice, rows = self.run_update(run_dir, [fixed, other])
        self.assertEqual([row[e2e.COLUMN_STATUS] for row in rows], [e2e.STATUS_LOCAL_FILE, e2e.STATUS_SUCCEEDED])
        self.assert_failure_notice(notice, 1)
        self.end_run(e2e.IDOK)
        self.assertEqual(self.server.requests(fixed["route"]), [], "a file that cannot be replaced is not fetched")
        self.assertEqual(self.content(fixed["local"]), fixed["old"])
        self.assertFalse(os.stat(fixed["local"]).st_mode & stat.S_IWUSR, "still read-only")
        self.assertEqual(self.content(other["local"]), other["old"])
        self.assertEqual(e2e.staging_leftovers(run_dir.path), [e2e.staging_path(other)])
        self.assertEqual(self.staged(other), other["new"])
        self.assert_old_or_new(run_dir, [fixed, other])
        self.assert_settled(run_dir, [fixed, other])


if __name__ == "__main__":
    unittest.main()
