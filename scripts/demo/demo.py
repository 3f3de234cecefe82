"""The demonstration behind the run command: a local manifest server with a small release of the
product, an older copy of the product in a demo run directory, and the updater started there under
Wine, so that its grid lists the stale files.

    python3 scripts/demo/demo.py [--close-after-screenshot]

Expects the Windows build (scripts/build.sh windows) and a display; scripts/demo/run-demo.sh does
all of that. Everything lives below <build root>/demo: the run's own certificate authority (trusted
only in the demo's Wine prefix, <build root>/demo/wine-prefix), the release the server hands out and
the run directory. The updater asks for its manifest at the build's address
(https://update.velmora.example by default); the demo starts it with http_proxy naming a local
proxy that tunnels to the local HTTPS server, exactly as the end-to-end tests do.
"""

import argparse
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.parse

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e", "servers"))

import https_server  # noqa: E402
import test_ca  # noqa: E402
import tunnel_proxy  # noqa: E402

BUILD_ROOT = os.environ.get("VELMORA_BUILD_ROOT", os.path.join(ROOT, "build"))
WINDOWS_BUILD = os.path.join(BUILD_ROOT, "windows")
DEMO_DIR = os.path.join(BUILD_ROOT, "demo")
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run.sh")
PROGRAM = os.path.join(WINDOWS_BUILD, "src", "velmora-update.exe")
UI_PROBE = os.path.join(WINDOWS_BUILD, "tools", "ui_probe", "ui-probe.exe")
HTTPS_PROBE = os.path.join(WINDOWS_BUILD, "tools", "https_probe", "https-probe.exe")
MANIFEST_PATH = "/download/2099/pro/up.txt"

# The release on the server: install path -> the new file's bytes.
RELEASE = {
    "\\Velmora.exe": b"Velmora 2.1.0 (build 4711)\n" * 4000,
    "\\Bin\\core.dll": b"core library 2.1.0\n" * 9000,
    "\\Bin\\界面资源.dat": "界面资源 2.1.0\n".encode("utf-8") * 3000,
    "\\Bin\\新功能.dll": b"new in 2.1.0\n" * 2000,
    "\\Bin\\Config\\settings.ini": b"[update]\nchannel=stable\n",
    "\\readme.txt": b"Velmora - read me\n",
}
# The older copy in the run directory: what differs from the release is listed by the updater.
OLDER_COPY = {
    "\\Velmora.exe": b"Velmora 2.0.3 (build 4488)\n" * 4000,
    "\\Bin\\core.dll": b"core library 2.0.3\n" * 9000,
    "\\Bin\\界面资源.dat": "界面资源 2.0.3\n".encode("utf-8") * 3000,
    "\\Bin\\Config\\settings.ini": RELEASE["\\Bin\\Config\\settings.ini"],
    "\\readme.txt": RELEASE["\\readme.txt"],
}


def manifest_origin():
    with open(os.path.join(WINDOWS_BUILD, "CMakeCache.txt"), encoding="utf-8") as cache:
        for line in cache:
            if line.startswith("VELMORA_MANIFEST_ORIGIN:"):
                return line.split("=", 1)[1].strip()
    raise SystemExit("demo: the Windows build has no VELMORA_MANIFEST_ORIGIN; run scripts/build.sh windows")


def write(base, install_path, data):
    target = os.path.join(base, *install_path.strip("\\").split("\\"))
    os.makedirs(os.path.dirname(target), exist_ok=True)
    with open(target, "wb") as out:
        out.write(data)


def wine(*arguments, env, timeout=120):
    """Runs a Windows program to its end; returns (exit code, standard output). The output goes
    through a file, not a pipe: Wine's own services, started by whichever program comes first, may
    hold on to a pipe long after the program has ended."""
    with tempfile.TemporaryFile() as output:
        finished = subprocess.run((WINE_RUN,) + arguments, env=env, stdin=subprocess.DEVNULL, stdout=output,
                                  stderr=subprocess.DEVNULL, timeout=timeout)
        output.seek(0)
        return finished.returncode, output.read()


def probe(env, *arguments):
    output = wine(UI_PROBE, *arguments, env=env)[1].decode("utf-8", "replace").strip().splitlines()
    answers = [line for line in output if line.startswith("{")]
    return json.loads(answers[-1]) if answers else {}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--close-after-screenshot", action="store_true",
                        help="close the window once the screenshot is taken (a virtual display)")
    options = parser.parse_args()
    for needed in (PROGRAM, UI_PROBE, HTTPS_PROBE):
        if not os.path.exists(needed):
            raise SystemExit("demo: %s is missing; run scripts/build.sh windows" % needed)

    shutil.rmtree(DEMO_DIR, ignore_errors=True)
    run_dir = os.path.join(DEMO_DIR, "run")
    os.makedirs(run_dir)
    origin = manifest_origin()
    authority = test_ca.TestAuthority(os.path.join(DEMO_DIR, "ca"), common_name="Velmora Demo Authority",
                                      names=("127.0.0.1", "localhost", urllib.parse.urlsplit(origin).hostname))
    server = https_server.HttpsServer(authority.server_cert, authority.server_key)
    proxy = tunnel_proxy.TunnelProxy("127.0.0.1", server.port)
    try:
        data = []
        for index, (install_path, content) in enumerate(RELEASE.items()):
            download = "/download/2099/pro/files/%d" % index
            server.reply(download, content, content_type="application/octet-stream")
            data.append({"name": install_path.split("\\")[-1], "md5": hashlib.md5(content).hexdigest(),
                         "url": origin + download, "path": install_path})
        manifest = {"run": "Velmora.exe", "data": data}
        server.reply(MANIFEST_PATH, json.dumps(manifest, ensure_ascii=False, indent=1).encode("utf-8"))

        for install_path, content in OLDER_COPY.items():
            write(run_dir, install_path, content)
        shutil.copy(PROGRAM, run_dir)

        env = {key: value for key, value in os.environ.items() if not key.lower().endswith("_proxy")}
        env["http_proxy"] = proxy.address
        trusted, _ = wine(HTTPS_PROBE, "trust-root", "Z:" + authority.ca_cert.replace("/", "\\"), env=env)
        if trusted != 0:
            raise SystemExit("demo: could not trust the demo authority in the Wine prefix")

        print("demo: manifest server %s%s -> https://127.0.0.1:%d (through the proxy %s)"
              % (origin, MANIFEST_PATH, server.port, proxy.address))
        print("demo: older copy of the product in %s" % run_dir)
        updater = subprocess.Popen((WINE_RUN, os.path.join(run_dir, "velmora-update.exe")), env=env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        grid = None
        deadline = time.monotonic() + 120
        while time.monotonic() < deadline and updater.poll() is None:
            button = probe(env, "button", "--wait", "5000").get("button")
            if button and button.get("enabled"):
                grid = probe(env, "grid").get("grid")
                break
            time.sleep(0.5)
        if grid is None:
            print("demo: the updater showed no filled list (exit code %s)" % updater.poll())
        else:
            print("demo: the updater lists %d stale files:" % len(grid["rows"]))
            for row in grid["rows"]:
                print("   %s  %-24s %s" % (row[0], row[1], row[7]))
            time.sleep(1)  # let it paint
            screenshot = os.path.join(BUILD_ROOT, "run-screenshot.png")
            if subprocess.run(["import", "-window", "root", screenshot], capture_output=True).returncode == 0:
                print("demo: screenshot saved to %s" % screenshot)
        if options.close_after_screenshot:
            probe(env, "close")
        code = updater.wait(timeout=None if not options.close_after_screenshot else 60)
        print("demo: velmora-update.exe exited with code %d" % code)
    finally:
        proxy.stop()
        server.stop()


if __name__ == "__main__":
    main()
