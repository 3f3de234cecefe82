"""A published release served as a CDN would serve it: the tree that `velmora-release publish` laid
out, every file at its path below the tree (the manifest over HTTPS at the updater's address, through
the tests' tunnel proxy and their own certificate authority; the files over plain HTTP on 127.0.0.1,
by the tests' file server or by nginx). Both servers decode a request's path before they look for
the file, as every static server does. Nothing here knows the manifest's format: the servers hand
out files."""

import os
import shutil
import sys
import tempfile
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "servers"))
sys.path.insert(0, os.path.join(HERE, "..", "harness"))

import file_server  # noqa: E402
import https_server  # noqa: E402
import nginx_server  # noqa: E402
import test_ca  # noqa: E402
import tunnel_proxy  # noqa: E402
import velmora_e2e as e2e  # noqa: E402

MANIFEST_PATH = "/download/2099/pro/up.txt"
# A company's own origin (the policy's Origin), which the site's certificate names too.
INTERNAL_HOST = "updates.internal.example"
HTTPS_PROBE = os.path.join(e2e.WINDOWS_BUILD_DIR, "tools", "https_probe", "https-probe.exe")
RELEASE_EXE = os.path.join(e2e.WINDOWS_BUILD_DIR, "tools", "release", "velmora-release.exe")
RELEASE_TOOL_DOCS = os.path.join(HERE, "..", "..", "..", "docs", "release-tool.md")


def documented_nginx_locations():
    """The nginx configuration that docs/release-tool.md gives under "Serving a release", as written."""
    with open(RELEASE_TOOL_DOCS, encoding="utf-8") as docs:
        section = docs.read().split("\n## Serving a release\n", 1)[1]
    return section.split("```nginx\n", 1)[1].split("```", 1)[0]


class ReleaseSite:
    """The servers of one published tree; `files_url` is the base URL to publish with.

    With `nginx_tree`, nginx serves the files of that folder (logs and configuration below
    `nginx_work`) with the documented Cache-Control headers, and only a tree published there can be served; otherwise the tests' file server
    serves what serve_tree() or files.serve() sets up."""

    def __init__(self, nginx_tree=None, nginx_work=None):
        self.directory = tempfile.mkdtemp(prefix="velmora-release-site-")
        self.files = None
        self.manifest_server = None
        self.proxy = None
        try:
            host = urllib.parse.urlsplit(e2e.manifest_origin()).hostname
            self.authority = test_ca.TestAuthority(os.path.join(self.directory, "ca"),
                                                   names=("127.0.0.1", "localhost", host, INTERNAL_HOST))
            self.manifest_server = https_server.HttpsServer(self.authority.server_cert, self.authority.server_key)
            self.proxy = tunnel_proxy.TunnelProxy("127.0.0.1", self.manifest_server.port)
            if nginx_tree is None:
                self.files = file_server.FileServer()
            else:
                self.files = nginx_server.NginxServer(nginx_tree, nginx_work, locations=documented_nginx_locations())
        except BaseException:
            self.stop()
            raise
        self.nginx_tree = nginx_tree
        self.files_url = self.files.url("/")

    def trust(self, wine):
        """Trusts the site's authority in the Wine prefix (the current user's Root store only)."""
        probe = wine.start(HTTPS_PROBE, "trust-root", e2e.windows_path(self.authority.ca_cert))
        if wine.wait(probe, timeout=120) != 0:
            raise RuntimeError("could not trust the test authority in the Wine prefix")

    def serve_tree(self, tree):
        """Serves every file below `tree` at its path; the manifest and its signature (when the tree
        has one) also at the updater's address."""
        self.serve_manifest(None, None)
        if self.nginx_tree is not None:
            if os.path.abspath(tree) != os.path.abspath(self.nginx_tree):
                raise ValueError(f"nginx serves {self.nginx_tree}, not {tree}")
            for route in (MANIFEST_PATH, MANIFEST_PATH + ".sig"):
                path = os.path.join(tree, *route.strip("/").split("/"))
                if os.path.exists(path):
                    with open(path, "rb") as source:
                        self.manifest_server.reply(route, source.read())
            return
        for root, _, names in os.walk(tree):
            for name in names:
                path = os.path.join(root, name)
                route = "/" + os.path.relpath(path, tree).replace(os.sep, "/")
                with open(path, "rb") as source:
                    body = source.read()
                if route in (MANIFEST_PATH, MANIFEST_PATH + ".sig"):
                    self.manifest_server.reply(route, body)
                self.files.serve(route, body)

    def serve_manifest(self, manifest, signature):
        """Serves `manifest` and `signature` (bytes; None: 404) at the updater's address."""
        for route, body in ((MANIFEST_PATH, manifest), (MANIFEST_PATH + ".sig", signature)):
            if body is None:
                self.manifest_server.reply(route, b"not found", status=404)
            else:
                self.manifest_server.reply(route, body)

    def stop(self):
        for server in (self.files, self.proxy, self.manifest_server):
            if server is not None:
                server.stop()
        shutil.rmtree(self.directory, ignore_errors=True)


class ReleaseSiteTestCase(e2e.WineTestCase):
    """A Wine test case with a release site whose manifest the programs reach through its proxy,
    and a scratch folder (`self.work`). `NEEDED` lists the files the test cannot run without."""

    NEEDED = ()
    # True: nginx serves the files from `self.tree` (below `self.work`), where the test publishes.
    NGINX = False

    def setUp(self):
        super().setUp()
        for needed in self.NEEDED:
            if not needed or not os.path.exists(needed):
                self.skipTest(f"{needed or 'VELMORA_RELEASE_TOOL'} is missing")
        self.work = tempfile.mkdtemp(prefix="velmora-release-e2e-", dir=os.path.dirname(e2e.WINDOWS_BUILD_DIR))
        self.addCleanup(shutil.rmtree, self.work, True)
        self.tree = os.path.join(self.work, "site")
        if self.NGINX:
            self.site = ReleaseSite(nginx_tree=self.tree, nginx_work=os.path.join(self.work, "nginx"))
        else:
            self.site = ReleaseSite()
        self.addCleanup(self.site.stop)
        self.wine.env = {k: v for k, v in self.wine.env.items() if not k.lower().endswith("_proxy")}
        self.wine.env["http_proxy"] = self.site.proxy.address
