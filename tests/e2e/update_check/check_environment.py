"""What the update-check scenarios share: the run's test authority, the local HTTPS server and the
tunnel proxy, and the updater started in a run directory of its own (through the end-to-end
harness, tests/e2e/harness).

The program under test is the Windows build exactly as it ships: its manifest address is the
build's origin (VELMORA_MANIFEST_ORIGIN, read from the Windows build's CMake cache). The tests start
it with http_proxy naming the local tunnel proxy, which WinINet honours as the system's proxy
setting; the proxy tunnels every CONNECT to the local HTTPS server, whose certificate the run's own
authority issued for the manifest host. That authority is added to the current user's Root store of
the test Wine prefix and nowhere else; certificate checks stay on.
"""

import json
import os
import shutil
import sys
import tempfile
import time
import unittest
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "servers"))
sys.path.insert(0, os.path.join(HERE, "..", "harness"))

import https_server  # noqa: E402
import test_ca  # noqa: E402
import tunnel_proxy  # noqa: E402
import velmora_e2e  # noqa: E402

HTTPS_PROBE = os.path.join(velmora_e2e.WINDOWS_BUILD_DIR, "tools", "https_probe", "https-probe.exe")
MANIFEST_PATH = "/download/2099/pro/up.txt"
EMPTY_MD5 = "d41d8cd98f00b204e9800998ecf8427e"
HAND_OFF = "\\Bin\\Config\\UP.data"

manifest_origin = velmora_e2e.manifest_origin
windows_path = velmora_e2e.windows_path


def without_proxies(environment):
    return {key: value for key, value in environment.items() if not key.lower().endswith("_proxy")}


class TestNetwork:
    """The run's authority, HTTPS server and proxy; the authority is trusted in the test prefix."""

    def __init__(self):
        self.directory = tempfile.mkdtemp(prefix="velmora-check-ca-")
        host = urllib.parse.urlsplit(manifest_origin()).hostname
        self.authority = test_ca.TestAuthority(self.directory, names=("127.0.0.1", "localhost", host))
        self.server = https_server.HttpsServer(self.authority.server_cert, self.authority.server_key)
        self.proxy = tunnel_proxy.TunnelProxy("127.0.0.1", self.server.port)
        wine = self.wine()
        try:
            trust = wine.start(HTTPS_PROBE, "trust-root", windows_path(self.authority.ca_cert))
            if wine.wait(trust, timeout=120) != 0:
                raise RuntimeError("could not trust the test authority in the Wine prefix")
        finally:
            wine.end_all()

    def wine(self, through_proxy=True):
        """A harness Wine whose programs reach the manifest host through the tunnel proxy, or
        (through_proxy=False) make every request directly."""
        wine = velmora_e2e.Wine()
        wine.env = without_proxies(wine.env)
        if through_proxy:
            wine.env["http_proxy"] = self.proxy.address
        return wine

    def serve_manifest(self, body, **options):
        self.server.reply(MANIFEST_PATH, body, **options)

    def manifest_requests(self):
        return len(self.server.requests(MANIFEST_PATH))

    def close(self):
        self.proxy.stop()
        self.server.stop()
        shutil.rmtree(self.directory, ignore_errors=True)


def manifest_json(files, run="App.exe"):
    """A manifest as the server writes it: UTF-8 JSON with Chinese characters as they are.
    `files` is a list of (path, md5) pairs; the name is the path's file name."""
    data = [{"name": path.split("\\")[-1], "md5": md5, "url": "http://127.0.0.1:1/" + str(index),
             "path": path} for index, (path, md5) in enumerate(files)]
    return json.dumps({"run": run, "data": data}, ensure_ascii=False).encode("utf-8")


class NetworkTestCase(velmora_e2e.WineTestCase):
    """A harness test case with the run's network, shared by the tests of the class."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        if not os.path.exists(HTTPS_PROBE) or not os.environ.get("DISPLAY"):
            raise unittest.SkipTest("needs the Windows build and a display")
        cls.network = TestNetwork()

    @classmethod
    def tearDownClass(cls):
        cls.network.close()
        super().tearDownClass()

    def setUp(self):
        super().setUp()
        self.wine = self.network.wine()
        self.addCleanup(self.wine.end_all)


class UpdaterRun:
    """One copy of the updater in a run directory of its own, started under Wine."""

    def __init__(self, test, files=None):
        self.test = test
        self.wine = test.wine
        self.run_dir = test.make_run_directory()
        self.process = None
        for path, data in (files or {}).items():
            self.write(path, data)

    def local(self, path):
        """The Linux path of a manifest path ("\\Bin\\x.dll") below the run directory."""
        return os.path.join(self.run_dir.path, *path.strip("\\").split("\\"))

    def write(self, path, data):
        self.run_dir.write(path.strip("\\").replace("\\", "/"), data)

    def start(self, *arguments):
        self.process = self.wine.start(self.run_dir.program, *arguments)

    def wait_for_filled_grid(self, timeout=60):
        """The grid once the check has finished, which enables the start button again."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise AssertionError("the updater ended with code %d" % self.process.returncode)
            button = self.wine.probe("button", "--wait", "5000", check=False).get("button")
            if button and button["enabled"]:
                return self.wine.probe("grid")["grid"], button
            time.sleep(0.3)
        raise AssertionError("the update check did not finish within %d s" % timeout)

    def wait_for_notice(self, timeout=60):
        try:
            answer = self.wine.probe("notice", "--wait", str(timeout * 1000), timeout=timeout + 30)
        except velmora_e2e.ProbeError as error:
            raise AssertionError(f"{error}; {self.whereabouts()}") from None
        return answer["notice"]

    def whereabouts(self):
        """Where the run had got to, for a failure's message: running or not, the manifest requests
        the server saw, what Wine said and the run's log."""
        try:
            with open(os.path.join(self.run_dir.path, *velmora_e2e.UPDATE_LOG.split("/")), "rb") as log:
                text = log.read().decode("utf-8", "replace")
        except OSError:
            text = "(no log)"
        return (f"exit code {self.process.poll()}, {self.test.network.manifest_requests()} manifest requests "
                f"so far, Wine said {self.wine.errors_of(self.process)!r}, its log:\n{text[-2000:]}")

    def press_notice_button(self, identifier=velmora_e2e.IDOK):
        self.wine.probe("notice-press", str(identifier))

    def close_window(self):
        self.wine.probe("close")

    def wait_for_exit(self, timeout=60):
        return self.wine.wait(self.process, timeout=timeout)
