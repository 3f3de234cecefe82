"""Quiet runs under Wine of the updater built with the tests' root 1, following roots rotated with openssl's
keys, and of the one pinning the tests' publisher, installing only programs osslsigncode signed as it."""

import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "release"))

import velmora_e2e as e2e  # noqa: E402
from release_site import ReleaseSiteTestCase  # noqa: E402

TOOL = os.environ.get("VELMORA_RELEASE_TOOL", "")
TESTS = os.path.join(e2e.WINDOWS_BUILD_DIR, "tests")
ROOT_KEY = os.path.join(HERE, "test_root_key.pem")
UPDATED, FAILED, MALFORMED, BAD_SIGNATURE, OLDER = 0, 4, 21, 22, 23
SUBJECT = "Velmora Test Publisher"


def run(*command):
    done = subprocess.run(command, capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, f"{command}: {done.stdout}{done.stderr}"
    return done.stdout


class TrustTestCase(ReleaseSiteTestCase):
    def setUp(self):
        super().setUp()
        self.site.trust(self.wine)
        self.serial = int(time.time())

    def publish(self, release, key, serial=None, launch="Velmora.exe"):
        self.serial = serial or self.serial + 1
        folder = os.path.join(self.work, "release-%d" % self.serial)
        e2e.write_tree(os.path.join(folder, "in"), release)
        run(TOOL, "publish", os.path.join(folder, "in"), os.path.join(folder, "out"), "--base-url", self.site.files_url,
            "--run", launch, "--key", key, "--serial", str(self.serial), "--quiet")
        self.site.serve_tree(os.path.join(folder, "out"))
        return self.serial

    def copy_with(self, files):
        self.run_dir = self.make_run_directory()
        shutil.copy2(os.path.join(TESTS, self.PROGRAM), self.run_dir.program)
        for relative, data in files.items():
            self.run_dir.write(relative, data)

    def quiet_run(self, expected_code, release, *options):
        code = self.wine.wait(self.wine.start(self.run_dir.program, "--quiet", *options), timeout=120)
        self.assertEqual(code, expected_code, self.read("Bin/Config/update.log").decode("utf-8", "replace"))
        self.assertEqual({relative: self.read(relative) for relative in release}, release)

    def read(self, relative, folder=None):
        with open(os.path.join(folder or self.run_dir.path, *relative.split("/")), "rb") as source:
            return source.read()


class RootRotation(TrustTestCase):
    PROGRAM = "velmora-update-test-root.exe"
    NEEDED = (os.path.join(TESTS, PROGRAM), TOOL)

    def rotate(self, version, release_key):
        """Root `version` naming a new `release_key`, signed as offline (openssl dgst) and served."""
        roots = os.path.join(self.work, "roots")
        if version == 2:
            os.makedirs(roots)
            shutil.copy2(os.path.join(HERE, "test_root_1.json"), os.path.join(roots, "1.json"))
        run("openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", release_key)
        record = os.path.join(roots, "%d.json" % version)
        run(TOOL, "root", "rotate", "--previous", os.path.join(roots, "%d.json" % (version - 1)), "--out", record,
            "--root-key", ROOT_KEY, "--root-threshold", "1", "--release-key", release_key, "--release-threshold", "1")
        run("openssl", "dgst", "-sha256", "-sign", ROOT_KEY, "-out", record + ".der", record)
        public = run("sh", "-c", f"openssl ec -in {ROOT_KEY} -pubout -outform DER 2>/dev/null | tail -c 64 | base64 -w0")
        run(TOOL, "sign", record, "--signature", record + ".der", "--public-key", public)
        for name in (record, record + ".sig"):
            with open(name, "rb") as source:
                self.site.manifest_server.reply("/download/2099/pro/root/" + os.path.basename(name), source.read())
        return release_key

    def test_a_lost_key_is_replaced_a_revoked_one_refused_and_a_forged_serial_undone(self):
        v1, v2, v3 = ({"Velmora.exe": b"Velmora %d" % n * 500, "Bin/core.dll": b"core %d" % n * 500} for n in (1, 2, 3))
        self.copy_with(v1)
        # Release key 1 is lost: root 2 names key 2, and the copy built with root 1 takes both.
        key2 = self.rotate(2, os.path.join(self.work, "release-2.pem"))
        self.publish(v2, key2)
        self.quiet_run(UPDATED, v2)
        self.assertEqual(self.read("Bin/Config/UP.root.json"), self.read("roots/2.json", self.work))
        # Root 3 revokes key 2: its manifest is refused, key 3's goes in.
        key3 = self.rotate(3, os.path.join(self.work, "release-3.pem"))
        self.publish(v3, key2)
        self.quiet_run(BAD_SIGNATURE, v2)
        self.publish(v3, key3)
        self.quiet_run(UPDATED, v3)
        # Key 3 leaks and signs serial 2^63-1, which blocks the genuine release until root 4.
        self.publish(v3, key3, serial=2 ** 63 - 1)
        self.quiet_run(UPDATED, v3)
        self.publish(v2, key3, serial=int(time.time()) + 1000)
        self.quiet_run(OLDER, v3)
        genuine = self.publish(v2, self.rotate(4, os.path.join(self.work, "release-4.pem")))
        self.quiet_run(UPDATED, v2)
        self.assertEqual(self.read("Bin/Config/UP.serial").strip(), str(genuine).encode())


class CodeSigning(TrustTestCase):
    PROGRAM = "velmora-update-test-signer.exe"
    NEEDED = (os.path.join(TESTS, PROGRAM), TOOL, e2e.STAND_IN)

    def sign(self, trailer, signer):
        """The stand-in with `trailer`, signed by a certificate of `signer` from openssl's test authority."""
        pki = os.path.join(self.work, "pki")
        for name, issuer in (("ca", None), (signer, "ca")):
            certificate = ["-subj", "/CN=" + (name or ""), "-addext", "basicConstraints=critical,CA:" + str(not issuer).upper()]
            if name and not os.path.exists(os.path.join(pki, name + ".crt")):
                os.makedirs(pki, exist_ok=True)
                run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", os.path.join(pki, name + ".key"),
                    "-out", os.path.join(pki, name + ".crt"), "-days", "30", *certificate,
                    *(["-CA", pki + "/ca.crt", "-CAkey", pki + "/ca.key", "-addext", "extendedKeyUsage=codeSigning"]
                      if issuer else []))
        unsigned, data = e2e.install_stand_in(pki, "unsigned.exe", trailer)
        if signer is None:
            return data
        signed = "signed-%d.exe" % len(os.listdir(pki))
        run("osslsigncode", "sign", "-certs", os.path.join(pki, signer + ".crt"), "-ac", pki + "/ca.crt",
            "-key", os.path.join(pki, signer + ".key"), "-h", "sha256", "-in", unsigned, "-out", os.path.join(pki, signed))
        return self.read(signed, pki)

    def test_only_programs_signed_by_the_pinned_subject_are_installed(self):
        old = {"Velmora.exe": b"old product", "Bin/core.dll": b"old core", "readme.txt": b"read me 1"}
        self.copy_with(old)
        key = os.path.join(HERE, "test_key.private")
        product, core = self.sign(b"product 2", SUBJECT), self.sign(b"core 2", SUBJECT)
        changed = core[:len(core) // 3] + bytes([core[len(core) // 3] ^ 1]) + core[len(core) // 3 + 1:]
        for dll, why in ((self.sign(b"core 2", None), "not signed"), (changed, "changed after it was signed"),
                         (self.sign(b"core 2", "Someone Else"), f'signed by "Someone Else", not by "{SUBJECT}"')):
            self.publish({"Velmora.exe": product, "Bin/core.dll": dll, "readme.txt": b"read me 2"}, key)
            self.quiet_run(FAILED, old)
            self.assertIn("\\Bin\\core.dll: 文件校验失败 (" + why, self.read("Bin/Config/update.log").decode("utf-8"))
        release = {"Velmora.exe": product, "Bin/core.dll": core, "readme.txt": b"read me 2"}
        self.publish(release, key)
        self.quiet_run(UPDATED, release)

    def test_a_program_is_known_by_its_content_and_nothing_else_is_started(self):
        old = {"Velmora.exe": b"old product", "readme.txt": b"read me 1"}
        self.copy_with(old)
        key = os.path.join(HERE, "test_key.private")
        unsigned = self.sign(b"tool", None)
        for name in ("Tool.com", "Saver.scr", "tool.dat"):
            launched = name if name != "tool.dat" else "Velmora.exe"
            self.publish({name: unsigned, "readme.txt": b"read me 2", "Velmora.exe": old["Velmora.exe"]}, key, launch=launched)
            self.quiet_run(FAILED, old, "--run")
            self.assertIn("\\" + name + ": 文件校验失败 (not signed", self.read("Bin/Config/update.log").decode("utf-8"))
            self.assertFalse(os.path.exists(os.path.join(self.run_dir.path, name)))
        for script in ("start.bat", "start.cmd"):
            self.publish({script: b"@echo started > started.txt\r\n", "readme.txt": b"read me 2"}, key, launch=script)
            self.quiet_run(MALFORMED, old, "--run")
            self.assertIn(f"the program to start, {script}, is not named as a program",
                          self.read("Bin/Config/update.log").decode("utf-8"))
            self.assertFalse(os.path.exists(os.path.join(self.run_dir.path, script)))
