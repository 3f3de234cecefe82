"""What the channel and rollout scenarios share: one published site (the tree that `velmora-release
publish` writes, with every channel's manifest), served as in production (each channel's manifest
and signature over HTTPS at the updater's address for it, through the tests' tunnel proxy and their
own certificate authority; the files over plain HTTP from 127.0.0.1), installations of the updater
built with the tests' key (velmora-update-test-key.exe), each with its own identifier, and the rule
by which an installation's place in a rollout is drawn, computed here on its own (docs/rollouts.md)
to check the updater's answers against it."""

import hashlib
import json
import os
import re
import secrets
import shutil
import subprocess
import sys
import unittest
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "managed"))
sys.path.insert(0, os.path.join(HERE, "..", "release"))

from managed_support import (BAD_SIGNATURE, FAILED, MALFORMED, OLDER, UNREACHABLE,  # noqa: E402,F401
                             UP_TO_DATE, UPDATE_WAITING, UPDATED, USAGE_ERROR, ConnectionCounter, ServedManifestTestCase, e2e,
                             run_log)

TOOL = os.environ.get("VELMORA_RELEASE_TOOL", "")
KEY = os.path.join(HERE, "..", "signed_manifests", "test_key.private")
SIGNED_UPDATER = os.path.join(e2e.WINDOWS_BUILD_DIR, "tests", "velmora-update-test-key.exe")

INSTALLATION_ID = "Bin/Config/installation.id"
CHANNEL_FILE = "Bin/Config/channel.txt"
PLACES = 10000  # a place is 0-9999
MANIFEST_FOLDER = "/download/2099/pro/"
UP_TO_DATE_OUTPUT = b"up to date\n"
# The log's line with the installation's answer: inside or outside, and its place.
ROLLOUT_LINE = re.compile(r"\b(inside|outside)\b.*\brollout\b.*\bplace (\d+)\b", re.IGNORECASE)


def manifest_route(channel=None):
    """Where the updater asks for the manifest of `channel` (None: the default channel)."""
    return MANIFEST_FOLDER + ("up.txt" if channel is None else f"{channel}/up.txt")


def rollout_place(installation_id, seed):
    """The installation's place in the rollout of the release with `seed` (rolloutSerial in
    decimal): the first 8 bytes of SHA-256("<identifier>/<seed>"), big-endian, modulo 10000."""
    digest = hashlib.sha256(f"{installation_id}/{seed}".encode("utf-8")).digest()
    return int.from_bytes(digest[:8], "big") % PLACES


def is_inside(place, percent):
    return place < percent * PLACES // 100


def new_installation_id():
    """16 random bytes as 32 lower-case hex digits, as an installation draws its identifier."""
    return secrets.token_hex(16)


def installation_id_with_place(seed, low, high):
    """An identifier whose place in the rollout of `seed` lies in [low, high)."""
    while True:
        candidate = new_installation_id()
        if low <= rollout_place(candidate, seed) < high:
            return candidate


def rollout_answer(run):
    """("inside" or "outside", the place) that the run's log gives; None when no line gives one."""
    for line in run.lines or []:
        match = ROLLOUT_LINE.search(line.text)
        if match:
            return match.group(1).lower(), int(match.group(2))
    return None


def read_file(path):
    with open(path, "rb") as source:
        return source.read()


class RolloutsTestCase(ServedManifestTestCase):
    """Runs of installations against one site that each test publishes into (self.tree) with the
    real tool and the tests' key."""

    required_files = (TOOL, SIGNED_UPDATER)

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.manifest_routes = set()

    def setUp(self):
        super().setUp()
        self.withdraw_manifests()
        self.tree = os.path.join(self.other_folder(), "site")

    # --- the site ---------------------------------------------------------------------------------

    def tool(self, *arguments):
        """Runs the native velmora-release; its standard output. The test fails when it fails."""
        done = subprocess.run([TOOL, *arguments], capture_output=True, text=True, timeout=120)
        self.assertEqual(done.returncode, 0, f"velmora-release {' '.join(arguments)}:\n{done.stdout}{done.stderr}")
        return done.stdout

    def publish(self, release, *options):
        """Publishes `release` ({relative path: bytes}) into the site with the tests' key and
        `options` (--channel, --rollout, --serial, ...), and serves the site; returns the manifest's
        members."""
        folder = os.path.join(self.other_folder(), "release")
        e2e.write_tree(folder, release)
        self.tool("publish", folder, self.tree, "--base-url", self.site.files_url, "--run", "Velmora.exe",
                  "--key", KEY, *options)
        self.serve()
        channel = options[options.index("--channel") + 1] if "--channel" in options else None
        return self.members(None if channel == "default" else channel)

    def change_rollout(self, percent, channel=None):
        """`velmora-release rollout` of the channel's manifest to `percent`; serves the site; returns
        the manifest's members."""
        self.tool("rollout", self.tree, "--percent", str(percent), "--key", KEY,
                  *(("--channel", channel) if channel else ()))
        self.serve()
        return self.members(channel)

    def write_signed_manifest(self, text, channel=None):
        """Writes `text` (bytes) as the channel's manifest in the site, signs it with the tests' key
        (`velmora-release sign`) and serves the site."""
        path = self.manifest_file(channel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(text)
        self.tool("sign", path, "--key", KEY)
        self.serve()

    def manifest_file(self, channel=None, suffix=""):
        return os.path.join(self.tree, *(manifest_route(channel) + suffix).strip("/").split("/"))

    def manifest_bytes(self, channel=None, suffix=""):
        return read_file(self.manifest_file(channel, suffix))

    def members(self, channel=None):
        return json.loads(self.manifest_bytes(channel).decode("utf-8"))

    def file_route(self, members, path):
        """The files server's path of the entry for `path` ("\\Bin\\core.dll") in a manifest."""
        url = next(entry["url"] for entry in members["data"] if entry["path"] == path)
        return urllib.parse.unquote(urllib.parse.urlsplit(url).path)

    def serve(self):
        """Serves every file of the site: the files at their paths, and each channel's manifest and
        signature at the updater's address for the channel (what the site has no longer: 404)."""
        self.withdraw_manifests()
        for root, _, names in os.walk(self.tree):
            for name in names:
                path = os.path.join(root, name)
                route = "/" + os.path.relpath(path, self.tree).replace(os.sep, "/")
                if route.startswith(MANIFEST_FOLDER) and route.endswith(("/up.txt", "/up.txt.sig")):
                    self.serve_manifest_route(route, read_file(path))
                else:
                    self.site.files.serve(route, read_file(path))

    def serve_manifest_route(self, route, body):
        """Serves `body` at `route` of the manifest server (None: 404)."""
        type(self).manifest_routes.add(route)
        if body is None:
            self.site.manifest_server.reply(route, b"not found", status=404)
        else:
            self.site.manifest_server.reply(route, body)

    def withdraw_manifests(self):
        for route in set(type(self).manifest_routes) | {manifest_route(), manifest_route() + ".sig"}:
            self.serve_manifest_route(route, None)

    def manifest_requests(self):
        """The paths of every request the manifest server has had (a mark for manifests_fetched)."""
        return [request.path for request in self.site.manifest_server.requests()]

    def manifests_fetched(self, mark):
        """The paths asked of the manifest server since `mark` (manifest_requests() then)."""
        return self.manifest_requests()[len(mark):]

    # --- installations ----------------------------------------------------------------------------

    def installation(self, files, installation_id=None):
        """A product folder with `files` ({relative path: bytes}), the updater built with the tests'
        key and, when given, the installation's identifier."""
        run_dir = self.make_run_directory()
        shutil.copy2(SIGNED_UPDATER, run_dir.program)
        for relative, data in files.items():
            run_dir.write(relative, data)
        if installation_id is not None:
            self.set_installation_id(run_dir, installation_id)
        return run_dir

    def set_installation_id(self, run_dir, installation_id):
        run_dir.write(INSTALLATION_ID, (installation_id + "\n").encode("ascii"))

    def installation_id(self, run_dir):
        return read_file(e2e.local_path(run_dir.path, INSTALLATION_ID)).decode("ascii").strip()

    def remembered_channel(self, run_dir):
        """The text of Bin\\Config\\channel.txt, stripped; None when there is none."""
        path = e2e.local_path(run_dir.path, CHANNEL_FILE)
        return read_file(path).decode("utf-8").strip() if os.path.exists(path) else None

    def write_hand_off(self, run_dir, members):
        """Writes `members` (a manifest's) as the hand-off file, GBK JSON as the product writes it."""
        run_dir.write(e2e.HAND_OFF, json.dumps(members, ensure_ascii=False).encode("gbk"))

    def files_of(self, run_dir, release):
        """{relative path: bytes or None} of the run directory, for the paths of `release`."""
        files = {}
        for relative in release:
            path = e2e.local_path(run_dir.path, relative)
            files[relative] = read_file(path) if os.path.exists(path) else None
        return files

    def assert_files(self, run_dir, release, message=""):
        self.assertEqual(self.files_of(run_dir, release), release, message)

    # --- runs -------------------------------------------------------------------------------------

    def check(self, run_dir, *arguments, code=None):
        """A --check run (not watched for windows: the managed scenarios do that); with `code`, the
        exit code and the output that goes with it are checked."""
        run = self.run_updater(run_dir, "--check", *arguments, watch=False)
        if code is not None:
            self.assert_exit(run, code)
            if code == UP_TO_DATE:
                self.assertEqual(run.output, UP_TO_DATE_OUTPUT, run.describe())
            elif code == UPDATE_WAITING:
                self.assertTrue(run.output.startswith(b"update: "), run.describe())
        return run

    def quiet(self, run_dir, *arguments, code=None, watch=False):
        run = self.run_updater(run_dir, "--quiet", *arguments, watch=watch)
        if code is not None:
            self.assert_exit(run, code)
        if watch:
            self.assert_nothing_shown(run)
        return run

    def assert_log_says(self, run, *words):
        """One of the run's lines holds every one of `words` (case aside)."""
        self.assertIsNotNone(run.lines, run.describe())
        found = [line for line in run.lines if all(word.lower() in line.text.lower() for word in words)]
        self.assertTrue(found, f"no line of the run says {words}:\n{run_log.describe(run.lines)}")
        return found
