"""Releases served from many places, under Wine with nginx on 127.0.0.1: an update that goes on
across broken mirrors (a closed port, a 503, a transfer that drops, one without the new files)
and resumes on the good one; fresh installations spreading over two good mirrors by their
identifiers; the policy's origin serving a signed release; and `velmora-release upload` through
rclone to nginx as a WebDAV server, manifests last, then an update from what nginx serves."""

import hashlib
import os
import shutil
import socket
import subprocess
import sys
import time
import unittest

import velmora_e2e as e2e
from release_site import INTERNAL_HOST, ReleaseSiteTestCase

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "managed"))

import file_server  # noqa: E402
import nginx_server  # noqa: E402
import policy  # noqa: E402

TOOL = os.environ.get("VELMORA_RELEASE_TOOL", "")
KEY = os.path.join(HERE, "..", "signed_manifests", "test_key.private")
SIGNED_UPDATER = os.path.join(e2e.WINDOWS_BUILD_DIR, "tests", "velmora-update-test-key.exe")
DAV_MODULE = "/usr/lib/nginx/modules/ngx_http_dav_ext_module.so"
RUN_BOUND = 120
UPDATE_WAITING = 10


def preferred_mirror(installation_id, count):
    """The mirror an installation prefers (docs/release-tool.md), computed here on its own."""
    digest = hashlib.sha256(f"{installation_id}/mirrors".encode("ascii")).digest()
    return int.from_bytes(digest[:8], "big") % 10000 % count


def installation_ids(count):
    """`count` fixed identifiers, so that the spread the tests expect is known beforehand."""
    return [hashlib.md5(f"installation {i}".encode("ascii")).hexdigest() for i in range(count)]


def id_preferring(mirror, count):
    return next(i for i in installation_ids(100) if preferred_mirror(i, count) == mirror)


class MirrorsAndUploadTest(ReleaseSiteTestCase):
    NEEDED = (TOOL,)
    NGINX = True

    def setUp(self):
        super().setUp()
        # Plain requests to 127.0.0.1 go straight to the servers, so that a closed port refuses the
        # connection itself (through a proxy it would be the proxy's 502).
        self.wine.env["no_proxy"] = "127.0.0.1"

    def publish(self, release, base_url, *options):
        """Publishes `release` ({path: bytes}) into the served tree with the native tool."""
        release_dir = os.path.join(self.work, "release")
        shutil.rmtree(release_dir, ignore_errors=True)
        e2e.write_tree(release_dir, release)
        done = subprocess.run([TOOL, "publish", release_dir, self.tree, "--base-url", base_url, "--run", "Velmora.exe",
                               "--quiet", *options], capture_output=True, text=True, timeout=60)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        return {path: data for path, data in e2e.read_tree(self.tree).items()}

    def nginx(self, name, tree, **options):
        server = nginx_server.NginxServer(tree, os.path.join(self.work, name), **options)
        self.addCleanup(server.stop)
        return server

    def installation(self, files, installation_id=None, program=None):
        run_dir = self.make_run_directory()
        if program:
            shutil.copy2(program, run_dir.program)
        for relative, data in files.items():
            run_dir.write(relative, data)
        if installation_id:
            run_dir.write("Bin/Config/installation.id", installation_id.encode("ascii") + b"\n")
        return run_dir

    def run_updater(self, run_dir, *arguments):
        """(exit code, standard output, the run log's text) of one unattended run."""
        process = self.wine.start(run_dir.program, *arguments)
        output = self.wine.output_of(process, timeout=RUN_BOUND)
        self.assertIsNotNone(output, "the updater did not end")
        self.assertTrue(os.path.exists(e2e.local_path(run_dir.path, e2e.UPDATE_LOG)), (process.returncode, output))
        with open(e2e.local_path(run_dir.path, e2e.UPDATE_LOG), encoding="utf-8", errors="replace") as log:
            return process.returncode, output, log.read()

    def assert_installed(self, run_dir, release):
        for relative, data in release.items():
            with open(e2e.local_path(run_dir.path, relative), "rb") as installed:
                self.assertEqual(installed.read(), data, relative)

    def test_an_update_goes_on_across_broken_mirrors_and_resumes_after_a_drop(self):
        release = {"Velmora.exe": b"Velmora 2.1", "Bin/core.dat": os.urandom(60000)}
        older = {"Velmora.exe": b"Velmora 2.1", "Bin/core.dat": b"Velmora 2.0"}
        closed = socket.socket()  # bound but not listening: every connection is refused
        closed.bind(("127.0.0.1", 0))
        self.addCleanup(closed.close)
        refused = "http://127.0.0.1:%d/" % closed.getsockname()[1]
        empty = os.path.join(self.work, "empty")
        os.makedirs(empty)
        unavailable = self.nginx("unavailable", self.tree, locations="        location /files/ { return 503; }\n")
        stale = self.nginx("stale", empty)
        dropping = file_server.FileServer()
        self.addCleanup(dropping.stop)
        good = self.site.files
        mirrors = [unavailable.url("/"), dropping.url("/"), stale.url("/"), good.url("/")]
        tree = self.publish(release, refused, *[option for url in mirrors for option in ("--mirror", url)])
        core = next("/" + path for path in tree if path.endswith("/core.dat"))
        for path, data in tree.items():
            # Every transfer of core.dat from this mirror breaks off after 30,000 bytes.
            dropping.serve("/" + path, data, **({"drop_at": 30000} if "/" + path == core else {}))
        self.site.serve_tree(self.tree)
        self.site.trust(self.wine)

        run_dir = self.installation(older, id_preferring(0, 5))  # the closed port first
        code, _, log = self.run_updater(run_dir, "--quiet")
        self.assertEqual(code, 0, log)
        self.assert_installed(run_dir, release)
        # Each mirror once, in the list's order from the preferred one; the good one sends the rest.
        self.assertEqual([(s, p) for s, p in unavailable.requests() if p == core], [(503, core)])
        self.assertEqual(len(dropping.requests(core)), 1)
        self.assertEqual(stale.requests(), [(404, core)])
        self.assertEqual([(s.status, s.path, s.range, s.bytes) for s in good.range_requests() if s.path == core],
                         [(206, core, "bytes=30000-", 30000)])
        for mirror, why in ((refused, "(no answer"), (mirrors[0], "(HTTP 503)"),
                            (mirrors[1], "(the body broke off at byte 30000)"), (mirrors[2], "(HTTP 404)")):
            self.assertIn(f"left mirror {mirror} {why}", log)
        self.assertIn(f"from byte 30000 from mirror {mirrors[3]}", log)

    def test_fresh_installations_spread_over_two_good_mirrors(self):
        release = {"Velmora.exe": b"Velmora 2.1", "Bin/a.dat": b"new" * 100}
        second = self.nginx("second", self.tree)
        self.publish(release, self.site.files_url, "--mirror", second.url("/"))
        self.site.serve_tree(self.tree)
        self.site.trust(self.wine)
        ids = installation_ids(20)
        expected = [sum(1 for i in ids if preferred_mirror(i, 2) == mirror) for mirror in (0, 1)]
        self.assertNotIn(0, expected)  # the fixed identifiers reach both

        started = time.monotonic()
        for installation_id in ids:
            run_dir = self.installation({"Velmora.exe": release["Velmora.exe"]}, installation_id)
            code, _, log = self.run_updater(run_dir, "--quiet")
            self.assertEqual(code, 0, log)
            self.assert_installed(run_dir, release)
            run_dir.cleanup()
        sys.stderr.write("20 installations updated in %.1f s\n" % (time.monotonic() - started))
        fetched = [[p for _, p in server.requests() if p.startswith("/files/")] for server in (self.site.files, second)]
        self.assertEqual([len(paths) for paths in fetched], expected, fetched)

    def test_the_policys_origin_serves_a_signed_release(self):
        if not os.path.exists(SIGNED_UPDATER):
            self.skipTest("velmora-update-test-key.exe is missing")
        release = {"Velmora.exe": b"Velmora 2.1", "Bin/a.dat": b"internal" * 100}
        self.publish(release, self.site.files_url, "--key", KEY)
        self.site.serve_tree(self.tree)
        self.site.trust(self.wine)
        origin = "https://" + INTERNAL_HOST
        policy.remove_policy()
        self.addCleanup(policy.remove_policy)
        e2e.wine_reg("add", policy.POLICY_KEY, "/v", "Origin", "/t", "REG_SZ", "/d", origin, "/f")

        run_dir = self.installation({"Velmora.exe": release["Velmora.exe"]}, program=SIGNED_UPDATER)
        code, output, log = self.run_updater(run_dir, "--check")
        self.assertEqual(code, UPDATE_WAITING, log)
        self.assertEqual(output.splitlines()[0], f"origin: {origin} (policy)".encode("ascii"))
        self.assertTrue(output.splitlines()[1].startswith(b"update: 1 file"), output)
        self.assertIn("signature valid", log)
        code, _, log = self.run_updater(run_dir, "--quiet")
        self.assertEqual(code, 0, log)
        self.assert_installed(run_dir, release)
        self.assertIn(f"manifest: {origin}/download/2099/pro/up.txt", log)
        tunnels = {line.split()[1] for line in self.site.proxy.request_lines() if line.startswith("CONNECT")}
        self.assertEqual(tunnels, {INTERNAL_HOST + ":443"})

    def test_an_upload_to_webdav_sends_the_manifest_last_and_an_older_copy_updates_from_it(self):
        rclone = shutil.which("rclone")
        if not rclone or not os.path.exists(DAV_MODULE):
            self.skipTest("rclone or libnginx-mod-http-dav-ext is missing (scripts/setup.sh installs them)")
        dav_root = os.path.join(self.work, "dav-root")
        os.makedirs(os.path.join(dav_root, "dav"))
        dav = self.nginx("dav", dav_root, main=f'load_module "{DAV_MODULE}";\n', locations="""\
        location /dav/ {
            dav_methods PUT DELETE MKCOL COPY MOVE;
            dav_ext_methods PROPFIND OPTIONS;
            create_full_put_path on;
            client_max_body_size 0;
        }
""")
        release = {"Velmora.exe": b"Velmora 2.1", "Bin/core.dll": os.urandom(100000), "Bin/界面 资源.dat": b"skin" * 50}
        older = {"Velmora.exe": b"Velmora 2.1", "Bin/core.dll": os.urandom(90000)}
        tree = self.publish(release, dav.url("/dav/"), "--key", KEY)
        destination = ":webdav,url='%s':" % dav.url("/dav/")
        env = dict(os.environ, RCLONE_CONFIG=os.path.join(self.work, "rclone.conf"))

        def upload():
            done = subprocess.run([TOOL, "upload", self.tree, destination, "--rclone", rclone], env=env,
                                  capture_output=True, text=True, timeout=120)
            return done.returncode, done.stdout + done.stderr

        def puts():
            return [path for method, _, path in dav.methods() if method == "PUT"]

        # A tree that verify refuses is not sent at all.
        damaged = os.path.join(self.tree, *next(p for p in tree if p.endswith("界面 资源.dat")).split("/"))
        with open(damaged, "wb") as out:
            out.write(b"damaged")
        code, output = upload()
        self.assertEqual((code, puts()), (1, []), output)
        e2e.write_tree(self.tree, tree)

        code, output = upload()
        self.assertEqual(code, 0, output)
        self.assertEqual(e2e.read_tree(os.path.join(dav_root, "dav")), tree)
        sent = puts()
        self.assertEqual(sorted(sent), sorted("/dav/" + path for path in tree), output)
        # Stored files first, the signature and then the manifest last.
        self.assertEqual(sent[-2:], ["/dav/download/2099/pro/up.txt.sig", "/dav/download/2099/pro/up.txt"])
        self.assertIn(f"{len(tree)} objects sent", output)

        code, output = upload()
        self.assertEqual(code, 0, output)
        self.assertEqual(puts(), sent, "the second upload sent something")
        self.assertIn("0 objects sent", output)

        # The older copy, updated from what nginx received.
        served = os.path.join(dav_root, "dav", "download", "2099", "pro", "up.txt")
        with open(served, "rb") as manifest, open(served + ".sig", "rb") as signature:
            self.site.serve_manifest(manifest.read(), signature.read())
        self.site.trust(self.wine)
        run_dir = self.installation(older)
        code, _, log = self.run_updater(run_dir, "--quiet")
        self.assertEqual(code, 0, log)
        self.assert_installed(run_dir, release)
        self.assertTrue([p for method, status, p in dav.methods() if method == "GET" and p.startswith("/dav/files/")])


if __name__ == "__main__":
    unittest.main()
