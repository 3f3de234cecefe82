"""Signed manifests under Wine: velmora-release publishes and signs a release with the tests' key,
the tests' servers serve it, and the updater built to require that key (velmora-update-test-key.exe)
takes it up. Then each attack on the served release: a tampered manifest, a replayed older one, an
expired one, a file swapped on the server. None installs anything: a swapped file fails its row,
and then the rows that succeeded are not installed either."""

import os
import shutil
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "release"))

import velmora_e2e as e2e  # noqa: E402
from release_site import MANIFEST_PATH, ReleaseSiteTestCase  # noqa: E402

TOOL = os.environ.get("VELMORA_RELEASE_TOOL", "")
KEY = os.path.join(HERE, "test_key.private")
SIGNED_UPDATER = os.path.join(e2e.WINDOWS_BUILD_DIR, "tests", "velmora-update-test-key.exe")
SERIAL_FILE = os.path.join("Bin", "Config", "UP.serial")
DAY = 86400


def utc(seconds):
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(seconds))



class SignedManifestsTest(ReleaseSiteTestCase):
    NEEDED = (SIGNED_UPDATER, TOOL)

    def setUp(self):
        super().setUp()
        self.site.trust(self.wine)

    def publish(self, name, release, serial, expires):
        """Publishes `release` (a dict of files) signed with the tests' key; returns the tree."""
        release_dir = os.path.join(self.work, name, "release")
        out_dir = os.path.join(self.work, name, "site")
        e2e.write_tree(release_dir, release)
        done = subprocess.run([TOOL, "publish", release_dir, out_dir, "--base-url", self.site.files_url,
                               "--run", "Velmora.exe", "--key", KEY, "--serial", str(serial), "--expires", utc(expires)],
                              capture_output=True, text=True, timeout=120)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertTrue(os.path.exists(os.path.join(out_dir, *MANIFEST_PATH.strip("/").split("/"))) and
                        os.path.exists(os.path.join(out_dir, *(MANIFEST_PATH + ".sig").strip("/").split("/"))))
        return out_dir

    def manifest_of(self, tree, suffix=""):
        with open(os.path.join(tree, *(MANIFEST_PATH + suffix).strip("/").split("/")), "rb") as source:
            return source.read()

    def run_updater(self, run_dir):
        """Starts the updater; returns (its process, its notice or None, the grid when it filled)."""
        updater = self.wine.start(run_dir.program)

        def outcome():
            if updater.poll() is not None:
                self.fail(f"the updater ended with code {updater.returncode}")
            notice = self.wine.probe("notice", check=False).get("notice")
            if notice:
                return notice, None
            button = self.wine.probe("button", check=False).get("button")
            return (None, self.wine.probe("grid")["grid"]) if button and button["enabled"] else None

        notice, grid = self.wine.wait_for(outcome, timeout=60, interval=0.3, message="a notice or the listed files")
        return updater, notice, grid

    def assert_refused(self, run_dir, content, before):
        updater, notice, _ = self.run_updater(run_dir)
        self.assertIsNotNone(notice, "the manifest was accepted")
        self.assertEqual((notice["mainInstruction"], notice["content"]), ("获取Update文件列表失败", content))
        self.wine.probe("notice-press", str(e2e.IDOK))
        self.assertEqual(self.wine.wait(updater, timeout=30), 0)
        self.assertEqual(self.snapshot(run_dir), before, "nothing may change")

    def snapshot(self, run_dir):
        """Every file of the run directory but the update's log, which every run may add to."""
        files = {}
        for root, _, names in os.walk(run_dir.path):
            for name in names:
                path = os.path.join(root, name)
                if os.path.relpath(path, run_dir.path).replace(os.sep, "/") == e2e.UPDATE_LOG:
                    continue
                with open(path, "rb") as source:
                    files[os.path.relpath(path, run_dir.path)] = source.read()
        return files

    def test_a_signed_release_is_taken_up_and_no_attack_installs_anything(self):
        now = int(time.time())
        v1 = {"Velmora.exe": b"Velmora 1" * 1000, "Bin/core.dll": b"core 1" * 5000, "readme.txt": b"read me 1"}
        v2 = {"Velmora.exe": b"Velmora 2" * 1000, "Bin/core.dll": b"core 2" * 5000, "readme.txt": b"read me 1"}
        v3 = {"Velmora.exe": b"Velmora 3" * 1000, "Bin/core.dll": b"core 3" * 5000, "readme.txt": b"read me 3"}
        old_tree = self.publish("v1", v1, serial=100, expires=now + 30 * DAY)
        tree = self.publish("v2", v2, serial=200, expires=now + 30 * DAY)

        run_dir = self.make_run_directory()
        shutil.copy2(SIGNED_UPDATER, run_dir.program)
        for relative, data in v1.items():
            run_dir.write(relative, data)

        # The signed release is taken up; its serial is kept.
        self.site.serve_tree(tree)
        updater, notice, grid = self.run_updater(run_dir)
        self.assertIsNone(notice, notice)
        self.assertEqual([row[e2e.COLUMN_PATH] for row in grid["rows"]], ["\\Bin\\core.dll", "\\Velmora.exe"])
        self.wine.probe("click-button")
        notice = self.wine.probe("notice", "--wait", "60000", timeout=90)["notice"]
        self.assertEqual(notice["content"], "[确定]运行软件 [取消]退出更新")
        self.wine.probe("notice-press", str(e2e.IDCANCEL))
        self.assertEqual(self.wine.wait(updater, timeout=30), 0)
        for relative, data in v2.items():
            self.assertEqual(self.snapshot(run_dir)[relative.replace("/", os.sep)], data, relative)
        self.assertEqual(self.snapshot(run_dir)[SERIAL_FILE].strip(), b"200")
        before = self.snapshot(run_dir)

        newer = self.publish("v3", v3, serial=300, expires=now + 30 * DAY)
        self.site.serve_tree(newer)
        manifest, signature = self.manifest_of(newer), self.manifest_of(newer, ".sig")

        # A tampered manifest: one byte changed after signing.
        tampered = manifest.replace(b"Velmora.exe", b"Velmora.exf", 1)
        self.site.serve_manifest(tampered, signature)
        self.assert_refused(run_dir, "错误代码：UpData签名错误", before)
        # No signature at all, or the signature of another manifest.
        self.site.serve_manifest(manifest, None)
        self.assert_refused(run_dir, "错误代码：UpData签名错误", before)
        self.site.serve_manifest(manifest, self.manifest_of(old_tree, ".sig"))
        self.assert_refused(run_dir, "错误代码：UpData签名错误", before)

        # A replayed older manifest, validly signed.
        self.site.serve_tree(old_tree)
        self.assert_refused(run_dir, "错误代码：UpData版本过旧", before)

        # An expired one, validly signed.
        expired = self.publish("v3-expired", v3, serial=300, expires=now - 60)
        self.site.serve_tree(expired)
        self.assert_refused(run_dir, "错误代码：UpData已过期", before)

        # A file swapped on the server: the manifest is authentic, the file is not the listed one.
        self.site.serve_tree(newer)
        for request_path in [p for p in self.published_files(newer) if p.endswith("/core.dll")]:
            self.site.files.serve(request_path, b"core 3, swapped" * 2000)
        updater, notice, grid = self.run_updater(run_dir)
        self.assertIsNone(notice, notice)
        self.wine.probe("click-button")
        notice = self.wine.probe("notice", "--wait", "60000", timeout=90)["notice"]
        rows = {row[e2e.COLUMN_PATH]: row[e2e.COLUMN_STATUS] for row in self.wine.probe("grid")["grid"]["rows"]}
        self.assertEqual(rows["\\Bin\\core.dll"], e2e.STATUS_DIGEST_MISMATCH, rows)
        self.assertEqual(notice["content"], "有1个文件下载失败")
        self.wine.probe("notice-press", str(e2e.IDOK))
        self.assertEqual(self.wine.wait(updater, timeout=30), 0)
        after = self.snapshot(run_dir)
        # The whole release or nothing: the files whose rows succeeded stay as they were, their
        # verified new files staged for a later run.
        for relative, data in v2.items():
            self.assertEqual(after[relative.replace("/", os.sep)], data, relative)
        self.assertEqual(after[SERIAL_FILE].strip(), b"300")
        staged = {os.path.basename(path).split(".")[0]: after[os.path.relpath(path, run_dir.path)]
                  for path in e2e.staging_leftovers(run_dir.path)}
        self.assertEqual(staged, {"Velmora": v3["Velmora.exe"], "readme": v3["readme.txt"]})
        self.assertEqual(e2e.commit_state_left(run_dir.path), [])

    def published_files(self, tree):
        return ["/" + os.path.relpath(os.path.join(root, name), tree).replace(os.sep, "/")
                for root, _, names in os.walk(tree) for name in names]


if __name__ == "__main__":
    unittest.main()
