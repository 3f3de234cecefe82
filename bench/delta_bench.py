#!/usr/bin/env python3
"""Delta updates on real data: what a client holding the old file fetches, in bytes (index included)
and requests, for the kinds of change a release makes; and, under Wine, the updater itself.

    VELMORA_FORCE_XVFB=1 scripts/with-display.sh python3 bench/delta_bench.py [--size-mb 500] [--skip-wine]
        [--skip-tools] [--skip-diff] [--work FOLDER] [--cases NAME ...]

The file is the first SIZE MB of a tar of /usr/lib (real, mostly uncompressed data); changed bytes
come from a tar of /usr/share, so they are real data the old file does not hold. Cases:
  region      one 5 MB region overwritten in the middle
  scattered   1,000 overwrites of 5 KB each, spread over the file
  insert      1,000 bytes inserted near the start
  rsyncable   the region case inside a `gzip --rsyncable` file
  new         a file new to the release (the client holds nothing of it)
For every case, `velmora-release diff OLD NEW` (native) plans as the updater does and gives the
bytes and requests; beside them the file's size, its size by gzip -6 (zlib at level 6, as gzip
writes it) and a near-ideal reference: the changed bytes alone, deflated at level 6 (what a patch
made for exactly this pair of files would need at least).

Beside them (without --skip-tools), two general tools on the same files, served by nginx:
  zsync    `zsyncmake -u new.bin -o new.bin.zsync new.bin` (with -Z for the rsyncable case) on the
           server's side, then
           `zsync -q -i old.bin -o out.bin URL/new.bin.zsync`: the control file and the ranges of
           new.bin it asks for
  zchunk   `zck -o new.zck new.bin` and `zck -o old.zck old.bin`, then
           `zckdl -q -s old.zck URL/new.zck`: the header and the chunk ranges it asks for
Bytes are the payload each request asked for (from the Range headers in nginx's log, or the whole
body without one), so multipart headers count for no tool.

Under Wine (without --skip-wine), the region case end to end: the release published by
`velmora-release publish`, served by nginx, the updater started on the old copy with the hand-off
manifest; timed from the click on the start button until the file is in place, once with the
delta member and once without it (the whole download). The update check's time with the member
(MD5 and cutting) and without it (MD5 alone) gives the cost of cutting the local file. Bytes and
requests are read from nginx's log. Needs the Windows build (velmora-update.exe, ui-probe.exe).
"""

import argparse
import filecmp
import json
import os
import random
import re
import shutil
import subprocess
import sys
import time
import zlib

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "bench"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e", "servers"))

import update_bench  # noqa: E402
from nginx_server import NginxServer  # noqa: E402

WORK = os.path.join(ROOT, "build", "delta-bench")
RELEASE_TOOL = os.path.join(ROOT, "build", "native", "tools", "release", "velmora-release")
MB = 1000 * 1000


def tar_bytes(folder, size):
    """The first `size` bytes of a tar of `folder`."""
    process = subprocess.Popen(["tar", "cf", "-", folder], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    data = process.stdout.read(size)
    process.kill()
    process.wait()
    if len(data) < size:
        raise RuntimeError(f"a tar of {folder} has only {len(data)} bytes")
    return data


def deflated_size(data, level=6):
    compressor = zlib.compressobj(level, zlib.DEFLATED, -15)
    size = 0
    for at in range(0, len(data), 1 << 24):
        size += len(compressor.compress(data[at:at + (1 << 24)]))
    return size + len(compressor.flush())


def gzip_size(data):
    return deflated_size(data) + 18  # gzip's header and trailer


def gzip_rsyncable(data, path):
    with open(path + ".raw", "wb") as out:
        out.write(data)
    subprocess.run(["gzip", "-6", "--rsyncable", "-n", "-f", "-k", path + ".raw"], check=True)
    os.replace(path + ".raw.gz", path)
    os.remove(path + ".raw")


def make_cases(size, only=None):
    """{case: (old bytes or None, new bytes, changed bytes for the ideal reference or None)}, for
    the cases in `only` (all when empty; the rsyncable case needs the region case)."""
    wanted = set(only or ("region", "scattered", "insert", "rsyncable", "new"))
    if "rsyncable" in wanted:
        wanted.add("region")
    old = tar_bytes("/usr/lib", size)
    pool = tar_bytes("/usr/share", 16 * MB)
    chance = random.Random(2099)
    cases = {}
    middle = size // 2
    if "region" in wanted:
        region = old[:middle] + pool[:5 * MB] + old[middle + 5 * MB:]
        cases["region"] = (old, region, pool[:5 * MB])
    if "scattered" in wanted:
        scattered = bytearray(old)
        changed = []
        step = size // 1000
        for n in range(1000):
            at = n * step + chance.randrange(step - 5000)
            piece = pool[chance.randrange(len(pool) - 5000):][:5000]
            scattered[at:at + 5000] = piece
            changed.append(piece)
        cases["scattered"] = (old, bytes(scattered), b"".join(changed))
    if "insert" in wanted:
        inserted = pool[6 * MB:6 * MB + 1000]
        cases["insert"] = (old, old[:4096] + inserted + old[4096:], inserted)
    if "rsyncable" in wanted:
        cases["rsyncable"] = ("gz", "gz", None)
    if "new" in wanted:
        cases["new"] = (None, old, old)
    return cases


def write_release(folder, data):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    if data is not None:
        with open(os.path.join(folder, "data.bin"), "wb") as out:
            out.write(data)


def diff(old_folder, new_folder):
    """(index bytes, pack bytes, requests) that `velmora-release diff` reports for data.bin."""
    started = time.monotonic()
    result = subprocess.run([RELEASE_TOOL, "diff", "--quiet", old_folder, new_folder], capture_output=True, text=True)
    seconds = time.monotonic() - started
    match = re.search(r"by delta .*?\((\d+) bytes\): index .*?\((\d+) bytes\), pack .*?\((\d+) bytes\), (\d+) request",
                      result.stdout)
    if not match:
        raise RuntimeError("diff said: " + result.stdout + result.stderr)
    return int(match.group(2)), int(match.group(3)), int(match.group(4)), seconds


def case_folders(name):
    """The (old, new) folders of a case that measure_cases wrote."""
    folder = os.path.join(WORK, name)
    return os.path.join(folder, "old"), os.path.join(folder, "new")


def measure_cases(size, only, skip_diff=False):
    rows = []
    cases = make_cases(size, only)
    for name, (old, new, changed) in cases.items():
        if only and name not in only:
            continue
        folder = os.path.join(WORK, name)
        if old == "gz":
            region_old, region_new, _ = cases["region"]
            os.makedirs(folder, exist_ok=True)
            for side, data in (("old", region_old), ("new", region_new)):
                os.makedirs(os.path.join(folder, side), exist_ok=True)
                gzip_rsyncable(data, os.path.join(folder, side, "data.bin"))
            with open(os.path.join(folder, "old", "data.bin"), "rb") as f:
                old = f.read()
            with open(os.path.join(folder, "new", "data.bin"), "rb") as f:
                new = f.read()
            changed = None
        else:
            write_release(os.path.join(folder, "old"), old)
            write_release(os.path.join(folder, "new"), new)
        if skip_diff:
            continue
        index, pack, requests, seconds = diff(os.path.join(folder, "old"), os.path.join(folder, "new"))
        ideal = deflated_size(changed) if changed is not None else None
        rows.append((name, len(new), index, pack, requests, gzip_size(new), ideal, seconds))
        print(f"{name:10} file {len(new) / MB:8.1f} MB  fetched {(index + pack) / MB:9.3f} MB "
              f"(index {index / MB:.3f} MB = {100 * index / len(new):.3f}% of the file, pack {pack / MB:.3f} MB)  "
              f"{requests} requests  | gzip -6 of the file {gzip_size(new) / MB:.1f} MB"
              + (f"  changed bytes deflated {ideal / MB:.3f} MB" if ideal is not None else "")
              + f"  [diff {seconds:.1f} s]", flush=True)
    return cases


# --- zsync and zchunk on the same files -----------------------------------------------------

def requested_bytes(served, size):
    """The payload a request asked for: its Range header's ranges (joined where they overlap),
    clipped to the file's `size`; the body nginx sent when it had none."""
    if served.range is None:
        return served.bytes
    spans = []
    for part in served.range.split("=", 1)[1].split(","):
        first, _, last = part.strip().partition("-")
        if first == "":
            start, end = max(0, size - int(last)), size
        else:
            start, end = int(first), size if last == "" else min(size, int(last) + 1)
        if start < end:
            spans.append((start, end))
    total, reach = 0, 0
    for start, end in sorted(spans):
        start = max(start, reach)
        if end > start:
            total += end - start
            reach = end
    return total


def fetched_by(server, before, sizes):
    """(bytes, requests) of the requests nginx served since `before`; `sizes` maps a served path's
    last part to its file's size."""
    served = server.range_requests()[before:]
    total = sum(requested_bytes(request, sizes.get(request.path.rsplit("/", 1)[-1], 0)) for request in served)
    return total, len(served)


def zck_header_size(path):
    result = subprocess.run(["zck_read_header", path], capture_output=True, text=True, check=True)
    return int(re.search(r"Header size: (\d+)", result.stdout).group(1))


def measure_tools(names):
    """zsync and zchunk fetching each case's new file with its old file at hand, side by side."""
    tree = os.path.join(WORK, "tools-tree")
    shutil.rmtree(tree, ignore_errors=True)
    os.makedirs(tree)
    server = NginxServer(tree, os.path.join(WORK, "tools-nginx"))
    try:
        for name in names:
            old_folder, new_folder = case_folders(name)
            old = os.path.join(old_folder, "data.bin")
            new = os.path.join(new_folder, "data.bin")
            served = os.path.join(tree, name)
            client = os.path.join(WORK, "tools-client", name)
            shutil.rmtree(client, ignore_errors=True)
            os.makedirs(served)
            os.makedirs(client)
            shutil.copyfile(new, os.path.join(served, "new.bin"))
            # -Z: a gzip --rsyncable file is fetched as the bytes it is (zsync's manual).
            subprocess.run(["zsyncmake"] + (["-Z"] if name == "rsyncable" else []) +
                           ["-u", "new.bin", "-o", "new.bin.zsync", "new.bin"], cwd=served, check=True,
                           stdout=subprocess.DEVNULL)
            subprocess.run(["zck", "-o", os.path.join(served, "new.zck"), new], check=True, stdout=subprocess.DEVNULL)
            has_old = os.path.exists(old)
            sizes = {name: os.path.getsize(os.path.join(served, name)) for name in ("new.bin", "new.bin.zsync", "new.zck")}

            before = len(server.range_requests())
            started = time.monotonic()
            command = ["zsync", "-q"] + (["-i", old] if has_old else []) + ["-o", "out.bin",
                                                                             server.url(f"/{name}/new.bin.zsync")]
            subprocess.run(command, cwd=client, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            zsync_seconds = time.monotonic() - started
            zsync_bytes, zsync_requests = fetched_by(server, before, sizes)
            if not filecmp.cmp(new, os.path.join(client, "out.bin"), shallow=False):
                raise RuntimeError("zsync did not give the new file")
            os.remove(os.path.join(client, "out.bin"))

            command = ["zckdl", "-q"]
            if has_old:
                subprocess.run(["zck", "-o", os.path.join(client, "old.zck"), old], check=True, stdout=subprocess.DEVNULL)
                command += ["-s", os.path.join(client, "old.zck")]
            before = len(server.range_requests())
            started = time.monotonic()
            subprocess.run(command + [server.url(f"/{name}/new.zck")], cwd=client, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            zck_seconds = time.monotonic() - started
            zck_bytes, zck_requests = fetched_by(server, before, sizes)
            if not filecmp.cmp(os.path.join(served, "new.zck"), os.path.join(client, "new.zck"), shallow=False):
                raise RuntimeError("zckdl did not give the new file")
            header = zck_header_size(os.path.join(served, "new.zck"))
            print(f"{name:10} zsync {zsync_bytes / MB:9.3f} MB (control file {sizes['new.bin.zsync'] / MB:.3f} MB) "
                  f"{zsync_requests} requests [{zsync_seconds:.1f} s]  | zchunk {zck_bytes / MB:9.3f} MB "
                  f"(header {header / MB:.3f} MB) {zck_requests} requests [{zck_seconds:.1f} s]", flush=True)
            shutil.rmtree(served)
            shutil.rmtree(client)
    finally:
        server.stop()


# --- the updater under Wine -------------------------------------------------------------------

def publish(release, tree, base_url):
    shutil.rmtree(tree, ignore_errors=True)
    subprocess.run([RELEASE_TOOL, "publish", "--quiet", release, tree, "--base-url", base_url, "--run", "data.bin"],
                   check=True, stdout=subprocess.DEVNULL)
    with open(os.path.join(tree, "download", "2099", "pro", "up.txt"), encoding="utf-8") as f:
        return json.load(f)


def run_update(windows_build, run, manifest, old):
    """Starts the updater in `run` (old file in place) on `manifest` as the hand-off file; returns
    (check seconds, seconds from the click until the file is in place)."""
    shutil.rmtree(run, ignore_errors=True)
    os.makedirs(os.path.join(run, "Bin", "Config"))
    with open(os.path.join(run, "data.bin"), "wb") as out:
        out.write(old)
    old_inode = os.stat(os.path.join(run, "data.bin")).st_ino
    shutil.copy2(os.path.join(windows_build, "src", "velmora-update.exe"), run)
    with open(os.path.join(run, "Bin", "Config", "UP.data"), "wb") as out:
        out.write(json.dumps(manifest, ensure_ascii=False).encode("gbk"))
    log = open(os.path.join(WORK, "updater.out"), "wb")
    started = time.monotonic()
    process = subprocess.Popen([update_bench.WINE_RUN, os.path.join(run, "velmora-update.exe"), "--from-product"],
                               stdout=log, stderr=subprocess.STDOUT, env=update_bench.clean_environment())
    try:
        while True:
            button = update_bench.probe(windows_build, "button", "--wait", "30000")
            if button.get("button", {}).get("enabled"):
                break
            if time.monotonic() - started > 600:
                raise RuntimeError("the update check did not end")
            time.sleep(0.05)
        checked = time.monotonic() - started
        memory_checked = update_bench.vm_hwm_kib(process.pid)
        clicked = time.monotonic()
        for _ in range(20):
            update_bench.probe(windows_build, "click-button")
            if not update_bench.probe(windows_build, "button").get("button", {}).get("enabled", True):
                break
        # The commit renames the staged file over the old one: the name then has another inode.
        target = os.path.join(run, "data.bin")
        while time.monotonic() - clicked < 1200 and os.stat(target).st_ino == old_inode:
            time.sleep(0.01)
        done = time.monotonic() - clicked
        memory_peak = update_bench.vm_hwm_kib(process.pid)
        with open(target, "rb") as f:
            if update_bench.hashlib.md5(f.read()).hexdigest() != manifest["data"][0]["md5"]:
                raise RuntimeError("the file in place is not the release's")
        update_bench.probe(windows_build, "notice", "--wait", "30000")
        update_bench.probe(windows_build, "notice-press", "2")
        process.wait(timeout=60)
        return checked, done, memory_checked, memory_peak
    finally:
        if process.poll() is None:
            process.kill()
        log.close()


def measure_wine(windows_build, cases):
    os.environ["VELMORA_WINEPREFIX"] = update_bench.PREFIX
    subprocess.run([os.path.join(ROOT, "scripts", "wine-prefix.sh")], env=update_bench.clean_environment(), check=True)
    old, new, _ = cases["region"]
    tree = os.path.join(WORK, "tree")
    os.makedirs(tree, exist_ok=True)
    server = NginxServer(tree, os.path.join(WORK, "nginx"))
    try:
        manifest = publish(os.path.join(WORK, "region", "new"), tree, server.url("/"))
        whole = json.loads(json.dumps(manifest))
        for entry in whole["data"]:
            entry.pop("delta", None)
        for label, listed in (("by delta", manifest), ("whole", whole)):
            before = len(server.range_requests())
            checked, seconds, memory_checked, memory_peak = run_update(windows_build, os.path.join(WORK, "run"), listed, old)
            served = server.range_requests()[before:]
            sent = sum(request.bytes for request in served)
            print(f"under Wine, {label:8}: update check {checked:.2f} s; click to file in place {seconds:.2f} s; "
                  f"{len(served)} requests, {sent / MB:.3f} MB sent; peak memory (VmHWM, Wine's share included) "
                  f"{memory_checked / 1024:.0f} MiB after the check, {memory_peak / 1024:.0f} MiB at the end", flush=True)
    finally:
        server.stop()


def main():
    global WORK
    parser = argparse.ArgumentParser()
    parser.add_argument("--size-mb", type=int, default=500)
    parser.add_argument("--windows-build", default=os.path.join(ROOT, "build", "windows"))
    parser.add_argument("--skip-wine", action="store_true")
    parser.add_argument("--skip-tools", action="store_true", help="without zsync and zchunk")
    parser.add_argument("--skip-diff", action="store_true", help="without velmora-release diff (only the files)")
    parser.add_argument("--work", default=WORK, help="the folder for the files, trees and logs")
    parser.add_argument("--cases", nargs="*", help="only these cases (region scattered insert rsyncable new)")
    options = parser.parse_args()
    WORK = os.path.abspath(options.work)
    os.makedirs(WORK, exist_ok=True)
    cases = measure_cases(options.size_mb * MB, options.cases, options.skip_diff)
    if not options.skip_tools:
        measure_tools([name for name in cases if not options.cases or name in options.cases])
    if not options.skip_wine:
        measure_wine(options.windows_build, cases)
    return 0


if __name__ == "__main__":
    sys.exit(main())
