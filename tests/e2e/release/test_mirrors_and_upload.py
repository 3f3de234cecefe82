"""Releases served from many places, under Wine with nginx: failover across broken mirrors, fresh
installations spread over two mirrors, the policy's origin, and an upload through rclone to nginx
as a WebDAV server (manifests last) followed by an update from it."""

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


def preferred_mirror(installation_id, count):
    digest = hashlib.sha256(f"{installation_id}/mirrors".encode("ascii")).digest()
    return int.from_bytes(digest[:8], "big") % 10000 % count


def installation_ids(count):
    return [hashlib.md5(f"installation {i}".encode("ascii")).hexdigest() for i in range(count)]


class MirrorsAndUploadTest(ReleaseSiteTestCase):
    NEEDED = (TOOL, SIGNED_UPDATER, DAV_MODULE)  # scripts/setup.sh installs the module, and rclone
    NGINX = True

    def setUp(self):
        super().setUp()
        # A closed port then refuses the connection itself (through a proxy it would be a 502).
        self.wine.env["no_proxy"] = "127.0.0.1"

    def publish(self, release, base_url, *options):
        """Publishes `release` ({path: bytes}) into the served tree (native tool); the tree, served."""
        release_dir = os.path.join(self.work, "release")
        e2e.write_tree(release_dir, release)
        done = subprocess.run([TOOL, "publish", release_dir, self.tree, "--base-url", base_url, "--run", "Velmora.exe",
                               "--quiet", *options], capture_output=True, text=True, timeout=60)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.site.serve_tree(self.tree)
        self.site.trust(self.wine)
        return e2e.read_tree(self.tree)

    def nginx(self, name, tree, **options):
        server = nginx_server.NginxServer(tree, os.path.join(self.work, name), **options)
        self.addCleanup(server.stop)
        return server

    def installation(self, files, installation_id=None, program=e2e.PROGRAM):
        run_dir = self.make_run_directory()
        shutil.copy2(program, run_dir.program)
        identifier = {"Bin/Config/installation.id": installation_id.encode("ascii")} if installation_id else {}
        e2e.write_tree(run_dir.path, {**files, **identifier})
        return run_dir

    def run_updater(self, run_dir, *arguments, code=0, installed=None):
        """Standard output and run log of one unattended run that ends with `code` and leaves
        `installed` ({path: bytes}) in place."""
        process = self.wine.start(run_dir.program, *arguments)
        output = self.wine.output_of(process, timeout=120)
        log = e2e.local_path(run_dir.path, e2e.UPDATE_LOG)
        self.assertTrue(output is not None and os.path.exists(log),
                        (process.returncode, output, self.wine.errors_of(process)))
        with open(log, encoding="utf-8", errors="replace") as text:
            log = text.read()
        self.assertEqual(process.returncode, code, log)
        installed = installed or {}
        self.assertEqual({p: data for p, data in e2e.read_tree(run_dir.path).items() if p in installed}, installed)
        return output, log

    def test_an_update_goes_on_across_broken_mirrors_and_resumes_after_a_drop(self):
        release = {"Velmora.exe": b"Velmora 2.1", "Bin/core.dat": os.urandom(60000)}
        closed = socket.socket()  # bound but not listening: every connection is refused
        closed.bind(("127.0.0.1", 0))
        self.addCleanup(closed.close)
        unavailable = self.nginx("unavailable", self.tree, locations="        location /files/ { return 503; }\n")
        stale = self.nginx("stale", os.path.join(self.work, "no such folder"))
        dropping = file_server.FileServer()
        self.addCleanup(dropping.stop)
        mirrors = ["http://127.0.0.1:%d/" % closed.getsockname()[1]] + [
            server.url("/") for server in (unavailable, dropping, stale, self.site.files)]
        tree = self.publish(release, mirrors[0], *[word for url in mirrors[1:] for word in ("--mirror", url)])
        core = next("/" + path for path in tree if path.endswith("/core.dat"))
        for path, data in tree.items():  # each transfer of core.dat from here breaks off at 30,000 bytes
            dropping.serve("/" + path, data, **({"drop_at": 30000} if "/" + path == core else {}))

        first = next(i for i in installation_ids(100) if preferred_mirror(i, 5) == 0)  # the closed port first
        run_dir = self.installation({"Velmora.exe": release["Velmora.exe"], "Bin/core.dat": b"2.0"}, first)
        _, log = self.run_updater(run_dir, "--quiet", installed=release)
        # Each mirror once, in the list's order from the preferred one; the good one sends the rest.
        self.assertEqual([(s, p) for s, p in unavailable.requests() if p == core], [(503, core)])
        self.assertEqual((len(dropping.requests(core)), stale.requests()), (1, [(404, core)]))
        self.assertEqual([(s.status, s.range, s.bytes) for s in self.site.files.range_requests() if s.path == core],
                         [(206, "bytes=30000-", 30000)])
        for mirror, why in zip(mirrors, ("(no answer", "(HTTP 503)", "(the body broke off at byte 30000)", "(HTTP 404)")):
            self.assertIn(f"left mirror {mirror} {why}", log)
        self.assertIn(f"from byte 30000 from mirror {mirrors[4]}", log)

    def test_fresh_installations_spread_over_two_good_mirrors(self):
        release = {"Velmora.exe": b"Velmora 2.1", "Bin/a.dat": b"new" * 100}
        second = self.nginx("second", self.tree)
        self.publish(release, self.site.files_url, "--mirror", second.url("/"))
        ids = installation_ids(20)
        expected = [sum(1 for i in ids if preferred_mirror(i, 2) == mirror) for mirror in (0, 1)]
        self.assertNotIn(0, expected)  # the fixed identifiers reach both
        started = time.monotonic()
        for installation_id in ids:
            run_dir = self.installation({"Velmora.exe": release["Velmora.exe"]}, installation_id)
            self.run_updater(run_dir, "--quiet", installed=release)
            run_dir.cleanup()
        sys.stderr.write("20 installations updated in %.1f s\n" % (time.monotonic() - started))
        fetched = [[p for _, p in server.requests() if p.startswith("/files/")] for server in (self.site.files, second)]
        self.assertEqual([len(paths) for paths in fetched], expected, fetched)

    def test_the_policys_origin_serves_a_signed_release(self):
        release = {"Velmora.exe": b"Velmora 2.1", "Bin/a.dat": b"internal" * 100}
        self.publish(release, self.site.files_url, "--key", KEY)
        origin = "https://" + INTERNAL_HOST
        policy.remove_policy()
        self.addCleanup(policy.remove_policy)
        e2e.wine_reg("add", policy.POLICY_KEY, "/v", "Origin", "/t", "REG_SZ", "/d", origin, "/f")
        run_dir = self.installation({"Velmora.exe": release["Velmora.exe"]}, program=SIGNED_UPDATER)
        output, log = self.run_updater(run_dir, "--check", code=10)  # an update waits
        self.assertEqual(output.splitlines()[0], f"origin: {origin} (policy)".encode("ascii"))
        self.assertTrue(output.splitlines()[1].startswith(b"update: 1 file"), output)
        self.assertIn("signature valid", log)
        _, log = self.run_updater(run_dir, "--quiet", installed=release)
        self.assertIn(f"manifest: {origin}/download/2099/pro/up.txt", log)
        tunnels = {line.split()[1] for line in self.site.proxy.request_lines() if line.startswith("CONNECT")}
        self.assertEqual(tunnels, {INTERNAL_HOST + ":443"})

    def test_an_upload_to_webdav_sends_the_manifest_last_and_an_older_copy_updates_from_it(self):
        rclone = shutil.which("rclone") or "rclone"
        dav_root = os.path.join(self.work, "dav-root")
        os.makedirs(os.path.join(dav_root, "dav"))
        dav = self.nginx("dav", dav_root, main=f'load_module "{DAV_MODULE}";\n', locations=(
            "        location /dav/ { dav_methods PUT DELETE MKCOL COPY MOVE; dav_ext_methods PROPFIND OPTIONS;"
            " create_full_put_path on; client_max_body_size 0; }\n"))
        release = {"Velmora.exe": b"Velmora 2.1", "Bin/core.dll": os.urandom(100000), "Bin/界面 资源.dat": b"skin" * 50}
        folder = "/dav/velmora/pro/"  # folders that do not exist yet, which upload makes first
        tree = self.publish(release, dav.url(folder), "--key", KEY)
        env = dict(os.environ, RCLONE_CONFIG=os.path.join(self.work, "rclone.conf"))

        def upload():
            destination = ":webdav,url='%s':" % dav.url(folder)
            done = subprocess.run([TOOL, "upload", self.tree, destination, "--rclone", rclone],
                                  env=env, capture_output=True, text=True, timeout=120)
            return done.returncode, done.stdout + done.stderr, [p for m, _, p in dav.methods() if m == "PUT"]

        # A tree that verify refuses is not sent at all.
        e2e.write_tree(self.tree, {next(p for p in tree if p.endswith(" 资源.dat")): b"damaged"})
        code, output, sent = upload()
        self.assertEqual((code, sent), (1, []), output)
        e2e.write_tree(self.tree, tree)
        code, output, sent = upload()
        self.assertEqual((code, sorted(sent)), (0, sorted(folder + path for path in tree)), output)
        self.assertEqual(e2e.read_tree(os.path.join(dav_root, "dav", "velmora", "pro")), tree)
        # Stored files first, then the signature, the manifest last.
        self.assertEqual(sent[-2:], [folder + "download/2099/pro/up.txt.sig", folder + "download/2099/pro/up.txt"])
        self.assertIn(f"{len(tree)} objects sent", output)
        self.assertEqual(upload()[2], sent, "the second upload sent something")

        # The older copy, updated from what nginx received.
        served = os.path.join(dav_root, "dav", "velmora", "pro", "download", "2099", "pro", "up.txt")
        with open(served, "rb") as manifest, open(served + ".sig", "rb") as signature:
            self.site.serve_manifest(manifest.read(), signature.read())
        run_dir = self.installation({"Velmora.exe": release["Velmora.exe"], "Bin/core.dll": os.urandom(90000)})
        self.run_updater(run_dir, "--quiet", installed=release)
        self.assertIn(("GET", 200), {(m, s) for m, s, p in dav.methods() if p.startswith(folder + "files/")})

if __name__ == "__main__":
    unittest.main()
