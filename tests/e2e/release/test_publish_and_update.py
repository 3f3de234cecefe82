"""Publishing a release and taking it up: the Windows build of velmora-release publishes a folder
(nested folders, Chinese names, spaces, an empty file), nginx serves the published files (the
manifest comes from the tests' HTTPS server at the updater's address), the updater under Wine brings
an older copy to byte-identical files, and the native tool verifies the served tree and the copy
against the published manifest."""

import hashlib
import os
import subprocess
import unittest
import urllib.request

import velmora_e2e as e2e
from release_site import RELEASE_EXE, ReleaseSiteTestCase

TOOL = os.environ.get("VELMORA_RELEASE_TOOL", "")


class PublishAndUpdateTest(ReleaseSiteTestCase):
    NEEDED = (RELEASE_EXE, e2e.STAND_IN, TOOL)
    NGINX = True

    def wine_tool(self, *arguments):
        """Runs the Windows build of velmora-release under Wine; (exit code, output text)."""
        process = self.wine.start(RELEASE_EXE, *arguments)
        output = self.wine.output_of(process, timeout=120)
        self.assertIsNotNone(output, "velmora-release.exe did not end")
        return process.returncode, output.decode("utf-8", "replace")

    def test_a_published_release_updates_an_older_copy_to_identical_files(self):
        with open(e2e.STAND_IN, "rb") as source:
            product = source.read()
        release = {
            "Velmora.exe": product + b"\0Velmora 2.1\0",
            "Bin/core.dll": os.urandom(3 * 1024 * 1024 + 5),
            "Bin/Plugins/新淺/extra.dat": os.urandom(2000),  # the second GBK byte of "淺" is "\"
            "Bin/界面 资源.dat": "新版本".encode("utf-8") * 300,
            "Bin/界面资源/皮肤 蓝色.dat": os.urandom(70000),
            "docs/说明.txt": "新版本说明\n".encode("utf-8") * 50,
            "Bin/Config/empty.ini": b"",
            "readme.txt": b"Velmora - read me\n",
        }
        older = {
            "Velmora.exe": product + b"\0Velmora 2.0\0",
            "Bin/core.dll": os.urandom(2 * 1024 * 1024),
            # No "Bin/Config/empty.ini": a missing file is listed even though its digest is that of
            # empty data, and the empty file is put in place without a download.
            "readme.txt": release["readme.txt"],
        }
        release_dir = os.path.join(self.work, "release")
        out_dir = self.tree  # where nginx serves the files from
        e2e.write_tree(release_dir, release)

        # Publish with the Windows build of the tool, as a release manager on Windows would.
        publish = ("publish", e2e.windows_path(release_dir), e2e.windows_path(out_dir),
                   "--base-url", self.site.files_url, "--run", "Velmora.exe")
        code, output = self.wine_tool(*publish)
        self.assertEqual(code, 0, output)
        published = e2e.read_tree(out_dir)
        manifest_route = "download/2099/pro/up.txt"
        manifest = os.path.join(out_dir, *manifest_route.split("/"))
        self.assertIn(manifest_route, published)
        # Every file under its real name, where a server that decodes the url looks for it.
        published_paths = {relative: f"/files/{hashlib.md5(data).hexdigest()}/{relative.rsplit('/', 1)[-1]}"
                           for relative, data in release.items()}
        for relative, data in release.items():
            self.assertEqual(published[published_paths[relative].lstrip("/")], data, relative)
        # Beside every file of 64 KiB or more, its chunk index and pack.
        large = [relative for relative, data in release.items() if len(data) >= 64 * 1024]
        self.assertIn("Bin/core.dll", large)
        for relative in large:
            for suffix in (".vmdi", ".vmdp"):
                self.assertIn(published_paths[relative].lstrip("/") + suffix, published)
        self.assertEqual(len(published), len(release) + 1 + 2 * len(large))

        # The native tool finds every file of the served tree through its url, as nginx does.
        verified = subprocess.run([TOOL, "verify", manifest, out_dir, "--base-url", self.site.files_url],
                                  capture_output=True, text=True, timeout=60)
        self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
        self.assertIn(f"0 problems in the manifest; {len(release)} files checked", verified.stdout)
        self.assertIn(f"chunk index and pack of {len(large)} files: {len(large)} match", verified.stdout)

        # Published again: every stored file keeps its time (a sync uploads nothing); a damaged one is rewritten.
        stored = [os.path.join(root, name) for root, _, names in os.walk(os.path.join(out_dir, "files"))
                  for name in names]
        for path in stored:
            os.utime(path, ns=(10**18, 10**18))
        damaged = os.path.join(out_dir, published_paths["readme.txt"].lstrip("/"))
        with open(damaged, "r+b") as file:
            file.write(b"X")
        code, output = self.wine_tool(*publish)
        self.assertEqual(code, 0, output)
        self.assertEqual([path for path in stored if os.stat(path).st_mtime_ns != 10**18], [damaged], output)
        self.assertEqual(e2e.read_tree(out_dir), published)

        # The older copy, updated from the served tree.
        self.site.serve_tree(out_dir)
        self.site.trust(self.wine)
        run_dir = self.make_run_directory()
        for relative, data in older.items():
            run_dir.write(relative, data)
        updater = self.wine.start(run_dir.program)
        grid = self.wait_for_filled_grid(updater)
        stale = ["\\" + path.replace("/", "\\") for path in sorted(release, key=lambda p: p.replace("/", "\\"))
                 if older.get(path) != release[path]]
        self.assertEqual([row[e2e.COLUMN_PATH] for row in grid["rows"]], stale)

        self.wine.probe("click-button")
        notice = self.wine.probe("notice", "--wait", "60000", timeout=90)["notice"]
        rows = self.wine.probe("grid")["grid"]["rows"]
        self.assertEqual((notice["mainInstruction"], notice["content"]), ("更新完成", "[确定]运行软件 [取消]退出更新"), rows)
        self.assertEqual({row[e2e.COLUMN_STATUS] for row in rows}, {e2e.STATUS_SUCCEEDED}, rows)
        self.wine.probe("notice-press", str(e2e.IDCANCEL))
        self.assertEqual(self.wine.wait(updater, timeout=30), 0)

        installed = e2e.read_tree(run_dir.path)
        installed.pop("velmora-update.exe")
        installed = {path: data for path, data in installed.items() if not e2e.is_update_state(path)}
        self.assertEqual(sorted(installed), sorted(release))
        self.assertEqual(e2e.commit_state_left(run_dir.path), [])
        # The previous release is kept: the old bytes of every file replaced, none of those added.
        self.assertEqual(e2e.kept_files(run_dir.path),
                         {path: data for path, data in older.items() if release[path] != data})
        for relative, data in release.items():
            self.assertEqual(installed[relative], data, relative)
        # nginx sent each stale file once, whole or as parts of its chunk index and pack (an updater
        # that fetches by delta); the empty one is put in place without a download.
        stale = {published_paths[path] for path in release if older.get(path) != release[path] and release[path]}
        served = [(status, path) for status, path in self.site.files.requests() if path.startswith("/files/")]
        delta_parts = [(status, path) for status, path in served if path.endswith((".vmdi", ".vmdp"))]
        by_delta = {path[:-len(".vmdi")] for _, path in delta_parts}
        large_paths = {published_paths[path] for path in large}
        self.assertLessEqual(by_delta, stale & large_paths, served)
        whole = [(status, path) for status, path in served if (status, path) not in delta_parts]
        self.assertEqual(sorted(path for _, path in whole), sorted(stale - by_delta), served)
        self.assertEqual({status for status, _ in whole} | {200}, {200}, served)
        self.assertLessEqual({status for status, _ in delta_parts}, {200, 206}, served)

        # The native tool agrees: the copy matches the published manifest.
        verified = subprocess.run([TOOL, "verify", manifest, run_dir.path],
                                  capture_output=True, text=True, timeout=60)
        self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
        self.assertIn(f"0 problems in the manifest; {len(release)} files checked", verified.stdout)

        # nginx sends the documented headers (asked last: the requests above are the updater's).
        direct = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        for route, cache in ((published_paths["readme.txt"], "public, max-age=31536000, immutable"),
                             ("/" + manifest_route, "no-cache")):
            with direct.open(self.site.files.url(route)) as answer:
                self.assertEqual(answer.headers["Cache-Control"], cache, route)


if __name__ == "__main__":
    unittest.main()
