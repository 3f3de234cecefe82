"""What the proxy scenarios share: a proxy of the tests' own that demands Basic credentials
(servers/auth_proxy.py), named as the Wine prefix's system proxy for the length of each test, the
manifest over HTTPS from the tests' server (through that proxy's CONNECT tunnel, with a certificate
of the run's own authority trusted in the test prefix), the files over plain HTTP from the tests'
file server (through the same proxy), and the updater run as the managed scenarios run it.

The programs run as on a Chinese system (the system's dialogs in Chinese) where the C library's
locale data allow it (see chinese_locale).

The system proxy is the current user's WinINet setting, which Wine's WinINet reads for every
session (HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings: ProxyEnable = 1,
ProxyServer = 127.0.0.1:<port>). The prefix is shared by every test of the run (one at a time), so
each test puts back the values it found, or removes those it made. No *_proxy variable reaches the
programs: Wine would take http_proxy instead of the registry when ProxyEnable is 0."""

import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "managed"))
sys.path.insert(0, os.path.join(HERE, "..", "servers"))

from managed_support import ManagedTestCase, e2e, run_log  # noqa: E402,F401
import auth_proxy  # noqa: E402
import https_server  # noqa: E402
import test_ca  # noqa: E402

MANIFEST_PATH = "/download/2099/pro/up.txt"
HTTPS_PROBE = os.path.join(e2e.WINDOWS_BUILD_DIR, "tools", "https_probe", "https-probe.exe")
INTERNET_SETTINGS = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings"

# The credentials the proxy wants: a Chinese user name and a password that no file may hold.
USER = "代理用户"
PASSWORD = "Pr0xy-口令-7f3c91"

# The title of Wine's proxy-credential dialog on a Chinese system, and on any other.
DIALOG_TITLE_CHINESE = "输入网络密码"
DIALOG_TITLE_ENGLISH = "Enter Network Password"

NO_MANIFEST = ("获取Update文件列表失败", "错误代码：UpData数据为空")
PROXY_ASKED = "the proxy asked for credentials"


_reg = e2e.wine_reg


def read_setting(name):
    """(type, data) of a value of the Internet settings as reg.exe lists it; None when absent."""
    code, text = _reg("query", INTERNET_SETTINGS, "/v", name, check=False)
    if code != 0:
        return None
    for line in text.splitlines():
        words = line.split(None, 2)
        if len(words) >= 2 and words[0] == name and words[1].startswith("REG_"):
            return words[1], (words[2] if len(words) == 3 else "")
    return None


def write_setting(name, kind, data):
    _reg("add", INTERNET_SETTINGS, "/v", name, "/t", kind, "/d", data, "/f")


def restore_setting(name, before):
    if before is None:
        _reg("delete", INTERNET_SETTINGS, "/v", name, "/f", check=False)
    else:
        kind, data = before
        if kind == "REG_DWORD" and data.lower().startswith("0x"):
            data = str(int(data, 16))
        write_setting(name, kind, data)


def chinese_locale(directory):
    """The environment of a Chinese system for Wine's programs, or None when it cannot be had.

    Wine takes the Windows locale (and so the language of its own dialogs) from LC_ALL, and the
    encoding of Linux file names from the C library's locale: a zh_CN.UTF-8 that the C library does
    not have would leave Chinese file names unreadable. So the locale is compiled for the test into
    `directory` (localedef, from Debian's locales data) and named with LOCPATH."""
    try:
        done = subprocess.run(["localedef", "-i", "zh_CN", "-f", "UTF-8", os.path.join(directory, "zh_CN.UTF-8")],
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=120)
    except (OSError, subprocess.TimeoutExpired):
        return None
    if done.returncode != 0:
        return None
    return {"LOCPATH": directory, "LANG": "zh_CN.UTF-8", "LC_ALL": "zh_CN.UTF-8"}


def credential_forms(text):
    """The bytes `text` may be found as in a file: UTF-8, UTF-16 (either order), GBK."""
    return [text.encode("utf-8"), text.encode("utf-16-le"), text.encode("utf-16-be"), text.encode("gbk")]


class ProxyTestCase(ManagedTestCase):
    """Each test has a fresh proxy demanding USER and PASSWORD as the system's proxy; the class
    shares the test authority (trusted in the prefix) and the HTTPS server."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        if not os.path.exists(e2e.PROGRAM) or not os.path.exists(HTTPS_PROBE) or not os.environ.get("DISPLAY"):
            raise unittest.SkipTest("needs the Windows build and a display")
        cls.directory = tempfile.mkdtemp(prefix="velmora-proxy-")
        cls.locale = chinese_locale(cls.directory)
        if cls.locale is None:
            print("\nnote: no zh_CN.UTF-8 locale could be made (localedef): the dialog is the English one")
        cls.dialog_title = DIALOG_TITLE_ENGLISH if cls.locale is None else DIALOG_TITLE_CHINESE
        host = urllib.parse.urlsplit(e2e.manifest_origin()).hostname
        cls.authority = test_ca.TestAuthority(cls.directory, names=("127.0.0.1", "localhost", host))
        cls.manifest_server = https_server.HttpsServer(cls.authority.server_cert, cls.authority.server_key)
        wine = e2e.Wine()
        try:
            trust = wine.start(HTTPS_PROBE, "trust-root", e2e.windows_path(cls.authority.ca_cert))
            if wine.wait(trust, timeout=120) != 0:
                raise RuntimeError("could not trust the test authority in the Wine prefix")
        except BaseException:
            cls.manifest_server.stop()
            raise
        finally:
            wine.end_all()

    @classmethod
    def tearDownClass(cls):
        cls.manifest_server.stop()
        shutil.rmtree(cls.directory, ignore_errors=True)
        super().tearDownClass()

    def setUp(self):
        super().setUp()
        self.wine.env = {k: v for k, v in self.wine.env.items() if not k.lower().endswith("_proxy")}
        self.wine.env.update(self.locale or {"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"})
        self.proxy = auth_proxy.AuthProxy("127.0.0.1", self.manifest_server.port, USER, PASSWORD)
        self.addCleanup(self.proxy.stop)
        before = {name: read_setting(name) for name in ("ProxyEnable", "ProxyServer", "ProxyOverride")}
        self.addCleanup(lambda: [restore_setting(name, value) for name, value in before.items()])
        write_setting("ProxyServer", "REG_SZ", self.proxy.server_setting)
        write_setting("ProxyEnable", "REG_DWORD", "1")
        _reg("delete", INTERNET_SETTINGS, "/v", "ProxyOverride", "/f", check=False)
        self.manifest_server.reply(MANIFEST_PATH, b"not found", status=404)

    # --- the release ----------------------------------------------------------------------------

    def serve_manifest(self, entries, run="Velmora.exe"):
        """The manifest of `entries` at the updater's address: UTF-8 JSON, Chinese names as they are."""
        data = [{"name": e["path"].rsplit("\\", 1)[-1], "md5": e["md5"], "url": e["url"], "path": e["path"]}
                for e in entries]
        self.manifest_server.reply(MANIFEST_PATH, json.dumps({"run": run, "data": data},
                                                             ensure_ascii=False).encode("utf-8"))

    def stale_release(self, run_dir):
        """Three entries: two files with old bytes in the run directory and one new file."""
        return [self.entry(run_dir, "\\Velmora.exe", b"Velmora 2" * 30000, old=b"Velmora 1"),
                self.entry(run_dir, "\\Bin\\数据\\表 一.dat", "表二".encode("utf-8") * 20000, old=b"table 1"),
                self.entry(run_dir, "\\Bin\\new.dll", b"new library" * 5000)]

    # --- what the proxy and the files saw -------------------------------------------------------

    def tunnels(self):
        return [r for r in self.proxy.requests() if r.method == "CONNECT"]

    def forwarded_gets(self):
        return [r for r in self.proxy.requests() if r.method == "GET"]

    def assert_only_right_credentials_passed(self):
        """Every request the proxy let through carried the right credentials, and every one that
        carried them was let through."""
        for request in self.proxy.requests():
            self.assertEqual(request.credentials == auth_proxy.RIGHT, request.status != 407,
                             f"{request}; all requests: {self.proxy.requests()}")

    def assert_no_file_holds_the_password(self, root):
        secrets = credential_forms(PASSWORD) + [base64.b64encode(f"{USER}:{PASSWORD}".encode("utf-8"))]
        for relative, data in e2e.read_tree(root).items():
            for secret in secrets:
                self.assertNotIn(secret, data, f"{relative} holds the proxy password ({secret!r})")

    def start_credential_watch(self):
        """Starts a watcher for credential dialogs; returns a function that stops it and returns
        the dialogs it saw."""
        folder = tempfile.mkdtemp(prefix="velmora-watch-", dir=os.path.dirname(e2e.WINDOWS_BUILD_DIR))
        self.addCleanup(shutil.rmtree, folder, True)
        stop_file = os.path.join(folder, "stop")
        watcher = self.wine.start(e2e.PROBE, "watch-windows", e2e.windows_path(stop_file), "--title", self.dialog_title,
                                  "--wait", "300000")

        def watching():
            if watcher.poll() is not None:
                self.fail(f"the dialog watcher ended at once (exit code {watcher.returncode})")
            with open(watcher.output_path, "rb") as output:
                return b'"watching"' in output.read()
        self.wine.wait_for(watching, timeout=60, interval=0.1, message="the dialog watcher")

        def stop():
            with open(stop_file, "wb"):
                pass
            return self.wine.answer_of(watcher, timeout=60)["windows"]
        return stop
