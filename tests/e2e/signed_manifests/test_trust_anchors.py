"""The root of trust and the code-signing anchor under Wine, in quiet runs.

RootRotation: the updater built with the tests' root 1 (velmora-update-test-root.exe) follows the
roots the publisher rotates with keys made by openssl: a lost release key replaced, a revoked one
refused, a serial forged with a leaked one undone. CodeSigning: the updater that pins the tests'
publisher (velmora-update-test-signer.exe) installs a release whose programs osslsigncode signed
with a certificate of that name, and nothing of one with an unsigned DLL, a changed byte or another
signer."""

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
RELEASE_KEY_1 = os.path.join(HERE, "test_key.private")
ROOT_KEY = os.path.join(HERE, "test_root_key.pem")
ROOT_1 = os.path.join(HERE, "test_root_1.json")
ROOTS_ROUTE = "/download/2099/pro/root/"
UPDATED, FAILED, BAD_SIGNATURE, OLDER = 0, 4, 22, 23
LAST_SERIAL = 2 ** 63 - 1
SUBJECT = "Velmora Test Publisher"


def run(*command):
    done = subprocess.run(list(command), capture_output=True, text=True, timeout=120)
    if done.returncode != 0:
        raise AssertionError(f"{' '.join(command)}: {done.stdout}{done.stderr}")
    return done.stdout


class TrustTestCase(ReleaseSiteTestCase):
    def setUp(self):
        super().setUp()
        self.site.trust(self.wine)
        self.serial = int(time.time())

    def publish(self, release, key, serial=None):
        """Publishes `release` (a dict of files) signed with `key`; serves it; returns its serial."""
        self.serial = serial or self.serial + 1
        name = "release-%d" % len(os.listdir(self.work))
        release_dir, out_dir = os.path.join(self.work, name, "release"), os.path.join(self.work, name, "site")
        e2e.write_tree(release_dir, release)
        run(TOOL, "publish", release_dir, out_dir, "--base-url", self.site.files_url, "--run", "Velmora.exe",
            "--key", key, "--serial", str(self.serial), "--quiet")
        self.site.serve_tree(out_dir)
        return self.serial

    def copy_with(self, program, files):
        run_dir = self.make_run_directory()
        shutil.copy2(program, run_dir.program)
        for relative, data in files.items():
            run_dir.write(relative, data)
        return run_dir

    def quiet_run(self, run_dir, expected_code):
        process = self.wine.start(run_dir.program, "--quiet")
        code = self.wine.wait(process, timeout=120)
        self.assertEqual(code, expected_code, self.read(run_dir, "Bin/Config/update.log").decode("utf-8", "replace"))

    def read(self, run_dir, relative):
        with open(os.path.join(run_dir.path, *relative.split("/")), "rb") as source:
            return source.read()

    def assert_files(self, run_dir, release):
        for relative, data in release.items():
            self.assertEqual(self.read(run_dir, relative), data, relative)


class RootRotation(TrustTestCase):
    NEEDED = (os.path.join(TESTS, "velmora-update-test-root.exe"), TOOL)

    def setUp(self):
        super().setUp()
        self.roots = os.path.join(self.work, "roots")
        os.makedirs(self.roots)
        shutil.copy2(ROOT_1, os.path.join(self.roots, "1.json"))
        self.root_public = run("sh", "-c", f"openssl ec -in {ROOT_KEY} -pubout -outform DER 2>/dev/null | tail -c 64 | base64 -w0")

    def new_key(self, name):
        path = os.path.join(self.work, name + ".pem")
        run("openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", path)
        return path

    def rotate(self, version, release_key):
        """Root `version` with the same root key and `release_key`, signed on the "offline" side with
        openssl and attached with sign --signature; served beside the earlier ones."""
        record = os.path.join(self.roots, "%d.json" % version)
        run(TOOL, "root", "rotate", "--previous", os.path.join(self.roots, "%d.json" % (version - 1)), "--out", record,
            "--root-key", ROOT_KEY, "--root-threshold", "1", "--release-key", release_key, "--release-threshold", "1")
        run("openssl", "dgst", "-sha256", "-sign", ROOT_KEY, "-out", record + ".der", record)
        run(TOOL, "sign", record, "--signature", record + ".der", "--public-key", self.root_public)
        for name in ("%d.json" % version, "%d.json.sig" % version):
            with open(os.path.join(self.roots, name), "rb") as source:
                self.site.manifest_server.reply(ROOTS_ROUTE + name, source.read())

    def test_a_lost_key_is_replaced_a_revoked_one_refused_and_a_forged_serial_undone(self):
        v1 = {"Velmora.exe": b"Velmora 1" * 500, "Bin/core.dll": b"core 1" * 500}
        v2 = {"Velmora.exe": b"Velmora 2" * 500, "Bin/core.dll": b"core 2" * 500}
        v3 = {"Velmora.exe": b"Velmora 3" * 500, "Bin/core.dll": b"core 3" * 500}
        run_dir = self.copy_with(os.path.join(TESTS, "velmora-update-test-root.exe"), v1)

        # The release key of root 1 is lost: root 2 names another, and the copy built with root 1
        # takes it and the release signed with it.
        key2 = self.new_key("release-2")
        self.rotate(2, key2)
        self.publish(v2, key2)
        self.quiet_run(run_dir, UPDATED)
        self.assert_files(run_dir, v2)
        self.assertEqual(self.read(run_dir, "Bin/Config/UP.root.json"), self.read_root(2))

        # Root 3 revokes key 2: a manifest it signs is refused, one by key 3 goes in.
        key3 = self.new_key("release-3")
        self.rotate(3, key3)
        self.publish(v3, key2)
        self.quiet_run(run_dir, BAD_SIGNATURE)
        self.assert_files(run_dir, v2)
        self.publish(v3, key3)
        self.quiet_run(run_dir, UPDATED)
        self.assert_files(run_dir, v3)

        # Key 3 leaks and signs serial 2^63-1: the copy keeps it, and refuses the genuine release...
        self.publish(v3, key3, serial=LAST_SERIAL)
        self.quiet_run(run_dir, UPDATED)
        self.assertEqual(self.read(run_dir, "Bin/Config/UP.serial").strip(), str(LAST_SERIAL).encode())
        self.serial = int(time.time()) + 1000
        self.publish(v2, key3)
        self.quiet_run(run_dir, OLDER)
        # ...until the publisher rotates: the serials are forgotten, the genuine release goes in.
        key4 = self.new_key("release-4")
        self.rotate(4, key4)
        genuine = self.publish(v2, key4)
        self.quiet_run(run_dir, UPDATED)
        self.assert_files(run_dir, v2)
        self.assertEqual(self.read(run_dir, "Bin/Config/UP.serial").strip(), str(genuine).encode())
        self.assertIn("every accepted serial is forgotten", self.read(run_dir, "Bin/Config/update.log").decode())

    def read_root(self, version):
        with open(os.path.join(self.roots, "%d.json" % version), "rb") as source:
            return source.read()


class CodeSigning(TrustTestCase):
    NEEDED = (os.path.join(TESTS, "velmora-update-test-signer.exe"), TOOL, e2e.STAND_IN)

    def setUp(self):
        super().setUp()
        self.pki = os.path.join(self.work, "pki")
        os.makedirs(self.pki)
        self.certificate("ca", "Velmora Test Root", None)
        self.certificate("publisher", SUBJECT, "ca")
        self.certificate("other", "Someone Else", "ca")

    def certificate(self, name, common_name, issuer):
        """A key and certificate made with openssl: a certificate authority, or a code-signing
        certificate it issued (the chain file holds both)."""
        key, cert = os.path.join(self.pki, name + ".key"), os.path.join(self.pki, name + ".crt")
        if issuer is None:
            run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "30",
                "-subj", "/CN=" + common_name, "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign")
            return
        request = os.path.join(self.pki, name + ".csr")
        extensions = os.path.join(self.pki, name + ".ext")
        with open(extensions, "w") as out:
            out.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n")
        run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", request, "-subj", "/CN=" + common_name)
        issuer_key, issuer_cert = os.path.join(self.pki, issuer + ".key"), os.path.join(self.pki, issuer + ".crt")
        run("openssl", "x509", "-req", "-in", request, "-CA", issuer_cert, "-CAkey", issuer_key, "-CAcreateserial",
            "-out", cert, "-days", "30", "-extfile", extensions)
        with open(os.path.join(self.pki, name + ".chain"), "wb") as out:
            out.write(open(cert, "rb").read() + open(issuer_cert, "rb").read())

    def program(self, trailer, signer="publisher"):
        """The stand-in product with `trailer` after its image, signed by `signer` (None: unsigned)."""
        unsigned = os.path.join(self.pki, "unsigned.exe")
        e2e.install_stand_in(self.pki, "unsigned.exe", trailer)
        if signer is None:
            return self.read_file(unsigned)
        signed = os.path.join(self.pki, "signed.exe")
        if os.path.exists(signed):
            os.remove(signed)
        run("osslsigncode", "sign", "-certs", os.path.join(self.pki, signer + ".chain"),
            "-key", os.path.join(self.pki, signer + ".key"), "-h", "sha256", "-in", unsigned, "-out", signed)
        return self.read_file(signed)

    def read_file(self, path):
        with open(path, "rb") as source:
            return source.read()

    def test_only_programs_signed_by_the_pinned_subject_are_installed(self):
        old = {"Velmora.exe": b"old product", "Bin/core.dll": b"old core", "readme.txt": b"read me 1"}
        run_dir = self.copy_with(os.path.join(TESTS, "velmora-update-test-signer.exe"), old)
        product = self.program(b"product 2")
        core = self.program(b"core 2")
        changed = bytearray(core)
        changed[len(changed) // 3] ^= 0x01
        for dll, why in ((self.program(b"core 2", signer=None), "not signed"),
                         (bytes(changed), "changed after it was signed"),
                         (self.program(b"core 2", signer="other"), f'signed by "Someone Else", not by "{SUBJECT}"')):
            self.publish({"Velmora.exe": product, "Bin/core.dll": dll, "readme.txt": b"read me 2"}, RELEASE_KEY_1)
            self.quiet_run(run_dir, FAILED)
            self.assert_files(run_dir, old)
            log = self.read(run_dir, "Bin/Config/update.log").decode("utf-8")
            self.assertIn("\\Bin\\core.dll: 文件校验失败 (" + why, log)

        release = {"Velmora.exe": product, "Bin/core.dll": core, "readme.txt": b"read me 2"}
        self.publish(release, RELEASE_KEY_1)
        self.quiet_run(run_dir, UPDATED)
        self.assert_files(run_dir, release)
