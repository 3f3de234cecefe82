"""Quiet runs that fetch the manifest over HTTPS, under Wine (the manifest host reached through the
tests' tunnel proxy, with a certificate of the run's own authority trusted in the test prefix; the
files over plain HTTP from 127.0.0.1). A stale release goes in (1), then nothing is left (0), and a
manifest that answers 404 is unreachable (20). The updater built with the tests' key refuses a
manifest whose signature is wrong or missing (22), one older than the one it accepted (23) and an
expired one (24) before it fetches a file, and takes a valid one (1)."""

import json
import os
import shutil
import subprocess
import sys
import time
import unittest

from managed_support import (BAD_SIGNATURE, EXPIRED, OLDER, UNREACHABLE, UP_TO_DATE, UPDATED, ServedManifestTestCase, e2e,
                             run_log)

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "release"))

from release_site import MANIFEST_PATH  # noqa: E402

TOOL = os.environ.get("VELMORA_RELEASE_TOOL", "")
KEY = os.path.join(HERE, "..", "signed_manifests", "test_key.private")
SIGNED_UPDATER = os.path.join(e2e.WINDOWS_BUILD_DIR, "tests", "velmora-update-test-key.exe")
SERIAL_FILE = "Bin/Config/UP.serial"
DAY = 86400


def utc(seconds):
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(seconds))


class FromTheServerTest(ServedManifestTestCase):
    def setUp(self):
        super().setUp()
        self.site.serve_manifest(None, None)

    def manifest(self, entries, run="Velmora.exe"):
        """The manifest of `entries` as the server sends it: UTF-8 JSON, Chinese names as they are."""
        data = [{"name": e["path"].rsplit("\\", 1)[-1], "md5": e["md5"], "url": e["url"], "path": e["path"]}
                for e in entries]
        return json.dumps({"run": run, "data": data}, ensure_ascii=False).encode("utf-8")

    def test_a_release_from_the_server_goes_in_quietly(self):
        # A product folder without Bin\Config (the product never left a hand-off file): the log
        # makes its own folder.
        run_dir = self.make_run_directory()
        entries = [self.entry(run_dir, "\\Velmora.exe", b"Velmora 2" * 4000, old=b"Velmora 1"),
                   self.entry(run_dir, "\\Bin\\数据\\表 一.dat", "表二".encode("utf-8") * 9000, old=b"table 1")]
        self.site.serve_manifest(self.manifest(entries), None)

        run = self.run_updater(run_dir, "--quiet")
        self.assert_exit(run, UPDATED)
        self.assert_nothing_shown(run)
        self.assert_wholly(entries, "new")
        self.assert_no_leftovers(run_dir)
        lines = self.assert_logged(run, "quiet", [e["path"] for e in entries], manifest=True)
        self.assertTrue(run_log.lines_naming(lines, e2e.manifest_origin() + MANIFEST_PATH),
                        f"no line names the manifest's address:\n{run_log.describe(lines)}")
        for entry in entries:
            self.assert_row_line(lines, entry["path"], len(entry["new"]), 200)

        since = len(self.server.requests())
        run = self.run_updater(run_dir, "--quiet")
        self.assert_exit(run, UP_TO_DATE)
        self.assert_nothing_shown(run)
        self.assertEqual(self.requests_since(since), [])
        self.assert_logged(run, "quiet", manifest=True)
        run = self.run_updater(run_dir, "--check")
        self.assert_exit(run, UP_TO_DATE)
        self.assertEqual(run.output, b"up to date\n")
        self.assert_logged(run, "check", manifest=True)

        self.site.serve_manifest(None, None)
        run = self.run_updater(run_dir, "--quiet")
        self.assert_exit(run, UNREACHABLE)
        self.assert_nothing_shown(run)
        lines = self.assert_logged(run, "quiet", manifest=True)
        self.assertTrue([line for line in lines if run_log.has_number(line.text, 404)],
                        f"no line gives the manifest's HTTP status 404:\n{run_log.describe(lines)}")

    def publish(self, name, release, serial, expires):
        """Publishes `release` ({relative path: bytes}) signed with the tests' key, for the site's file
        server; returns the published tree."""
        work = self.other_folder()
        release_dir, tree = os.path.join(work, name, "release"), os.path.join(work, name, "site")
        e2e.write_tree(release_dir, release)
        done = subprocess.run([TOOL, "publish", release_dir, tree, "--base-url", self.site.files_url,
                               "--run", "Velmora.exe", "--key", KEY, "--serial", str(serial), "--expires",
                               utc(expires)], capture_output=True, text=True, timeout=120)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        return tree

    def manifest_of(self, tree, suffix=""):
        with open(os.path.join(tree, *(MANIFEST_PATH + suffix).strip("/").split("/")), "rb") as source:
            return source.read()

    def test_the_signed_build_refuses_a_manifest_before_it_fetches_a_file(self):
        if not TOOL or not os.path.exists(TOOL) or not os.path.exists(SIGNED_UPDATER):
            self.skipTest("needs velmora-release (VELMORA_RELEASE_TOOL) and velmora-update-test-key.exe")
        now = int(time.time())
        v1 = {"Velmora.exe": b"Velmora 1" * 1000, "Bin/界面/皮肤 蓝色.dat": "皮肤一".encode("utf-8") * 2000}
        v2 = {"Velmora.exe": b"Velmora 2" * 1000, "Bin/界面/皮肤 蓝色.dat": "皮肤二".encode("utf-8") * 2000}
        tree = self.publish("v2", v2, serial=200, expires=now + 30 * DAY)
        expired = self.publish("v2-expired", v2, serial=200, expires=now - 60)
        manifest, signature = self.manifest_of(tree), self.manifest_of(tree, ".sig")

        run_dir = self.make_run_directory()
        shutil.copy2(SIGNED_UPDATER, run_dir.program)
        run_dir.write("Bin/Config/Velmora.ini", b"[Velmora]\r\n")
        for relative, data in v1.items():
            run_dir.write(relative, data)

        def refused(code, *words):
            since = len(self.site.files.requests())
            run = self.run_updater(run_dir, "--quiet")
            self.assert_exit(run, code)
            self.assert_nothing_shown(run)
            self.assertEqual(self.site.files.requests()[since:], [], "a file was fetched")
            self.assertEqual({r: run_dir_file(run_dir, r) for r in v1}, v1)
            self.assertEqual(e2e.staging_leftovers(run_dir.path), [])
            lines = self.assert_logged(run, "quiet", manifest=True)
            for word in words:
                self.assertTrue([line for line in lines if word in line.text.lower()],
                                f"no line says {word!r}:\n{run_log.describe(lines)}")

        self.site.serve_tree(tree)
        self.site.serve_manifest(manifest.replace(b"Velmora.exe", b"Velmora.exf", 1), signature)
        refused(BAD_SIGNATURE, "signature")
        self.site.serve_manifest(manifest, None)
        refused(BAD_SIGNATURE, "signature")

        run_dir.write(SERIAL_FILE, b"300")
        self.site.serve_manifest(manifest, signature)
        refused(OLDER, "serial")
        os.remove(e2e.local_path(run_dir.path, SERIAL_FILE))

        self.site.serve_manifest(self.manifest_of(expired), self.manifest_of(expired, ".sig"))
        refused(EXPIRED, "expir")

        self.site.serve_manifest(manifest, signature)
        run = self.run_updater(run_dir, "--quiet")
        self.assert_exit(run, UPDATED)
        self.assert_nothing_shown(run)
        self.assertEqual({r: run_dir_file(run_dir, r) for r in v2}, v2)
        self.assertEqual(run_dir_file(run_dir, SERIAL_FILE).strip(), b"200")
        self.assert_logged(run, "quiet", ["\\Velmora.exe", "\\Bin\\界面\\皮肤 蓝色.dat"], manifest=True)


def run_dir_file(run_dir, relative):
    with open(e2e.local_path(run_dir.path, relative), "rb") as source:
        return source.read()


if __name__ == "__main__":
    unittest.main()
