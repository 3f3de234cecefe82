"""Hashing a release on every core: velmora-release manifest and the update check's LoadManifest
against md5sum with two processes, and against LoadManifest on one thread, in one run.

    python3 bench/release_bench.py [--build build-bench/native] [--files 2000] [--mib 1024] [--rounds 5]

Writes FILES files of MIB MiB in all below the temporary directory (sizes from half to one and a
half of the mean, in eight folders, every fifth name Chinese), reads them all once so that the
page cache is warm, writes their hand-off manifest with velmora-release (so LoadManifest finds
every file up to date, after hashing each), then times, round after round in turn:

  md5sum -P2        xargs -0 -P2 -n 50 md5sum over the files (two processes: both cores busy)
  release manifest  velmora-release manifest DIR --base-url ... --run ... --out FILE --quiet
  LoadManifest      load_manifest_cores_bench, one hashing thread per core
  LoadManifest x1   the same with one hashing thread (one file after another, as before)

and prints each one's median time, throughput and peak resident memory (GNU time's %M),
with the ratios the figures are judged by. Everything it wrote is removed at the end.
"""

import argparse
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))


def make_release(directory, files, total):
    """The release folder; returns the list of its files (paths)."""
    generator = random.Random(12345)
    mean = total // files
    paths = []
    written = 0
    block = os.urandom(1 << 20)
    for index in range(files):
        size = mean // 2 + (index * 7919) % (mean + 1)
        if index == files - 1:
            size = max(total - written, 0)
        name = ("模块%d.dll" if index % 5 == 0 else "module%d.dll") % index
        path = os.path.join(directory, "Bin", "d%d" % (index % 8), name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            left = size
            offset = generator.randrange(len(block))
            while left > 0:
                piece = block[offset:offset + left]
                out.write(piece)
                left -= len(piece)
                offset = 0
            out.write(index.to_bytes(4, "little"))  # no two files alike
        written += size + 4
        paths.append(path)
    return paths, written


def run_measured(command, stdin_path, work):
    """Runs `command` under GNU time; returns (seconds, peak resident MiB, standard output). The
    peak is time's %M, the largest resident set of the command or any process it waited for (a
    child's own ru_maxrss would count the pages it shared with this script before exec)."""
    memory_file = os.path.join(work, "peak.txt")
    stdin = open(stdin_path, "rb") if stdin_path else subprocess.DEVNULL
    try:
        start = time.monotonic()
        finished = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", memory_file] + command, stdin=stdin,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        seconds = time.monotonic() - start
    finally:
        if stdin_path:
            stdin.close()
    if finished.returncode != 0:
        raise SystemExit("release_bench: %s failed (%d): %s" % (command[0], finished.returncode,
                                                                finished.stderr.decode("utf-8", "replace")))
    with open(memory_file) as peak:
        return seconds, int(peak.read().split()[-1]) / 1024.0, finished.stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build-bench", "native"),
                        help="a native build with the benchmarks (scripts/build.sh native)")
    parser.add_argument("--files", type=int, default=2000)
    parser.add_argument("--mib", type=int, default=1024)
    parser.add_argument("--rounds", type=int, default=5)
    options = parser.parse_args()

    tool = os.path.join(options.build, "tools", "release", "velmora-release")
    loader = os.path.join(options.build, "bench", "load_manifest_cores_bench")
    for needed in (tool, loader):
        if not os.path.exists(needed):
            raise SystemExit("release_bench: %s is missing; build with scripts/build.sh native" % needed)

    work = tempfile.mkdtemp(prefix="velmora-release-bench-")
    try:
        release = os.path.join(work, "release")
        print("writing %d files, %d MiB, to %s ..." % (options.files, options.mib, release), flush=True)
        paths, total = make_release(release, options.files, options.mib << 20)
        file_list = os.path.join(work, "files.txt")
        with open(file_list, "wb") as listing:
            listing.write(b"".join(p.encode("utf-8") + b"\0" for p in paths))
        for path in paths:  # the page cache, warm for everyone
            with open(path, "rb") as source:
                while source.read(1 << 20):
                    pass

        hand_off = os.path.join(work, "UP.data")
        run_target = os.path.relpath(paths[1], release)
        manifest_command = [tool, "manifest", release, "--base-url", "http://127.0.0.1/r", "--run", run_target,
                            "--quiet"]
        run_measured(manifest_command + ["--handoff", "--out", hand_off], None, work)

        commands = {
            "md5sum -P2": (["xargs", "-0", "-P2", "-n", "50", "md5sum"], file_list),
            "release manifest": (manifest_command + ["--out", os.path.join(work, "up.txt")], None),
            "LoadManifest": ([loader, release, hand_off, "0"], None),
            "LoadManifest x1": ([loader, release, hand_off, "1"], None),
        }
        results = {name: {"seconds": [], "peak": 0.0} for name in commands}
        for round_number in range(options.rounds):
            for name, (command, stdin_path) in commands.items():
                seconds, peak, output = run_measured(command, stdin_path, work)
                if name.startswith("LoadManifest"):
                    answer = json.loads(output.decode().strip().splitlines()[-1])
                    if answer["listed"] != 0:
                        raise SystemExit("release_bench: LoadManifest listed %d files" % answer["listed"])
                    seconds = answer["ms"] / 1000.0  # LoadManifest alone, without the process start
                results[name]["seconds"].append(seconds)
                results[name]["peak"] = max(results[name]["peak"], peak)
            print("round %d of %d done" % (round_number + 1, options.rounds), flush=True)

        medians = {name: statistics.median(result["seconds"]) for name, result in results.items()}
        print()
        print("%d files, %.1f MiB, %d cores, medians of %d rounds:" % (len(paths), total / 1048576, os.cpu_count(),
                                                                     options.rounds))
        print("| | time | throughput | peak resident memory | md5sum -P2 time / time | LoadManifest x1 time / time |")
        print("|---|---|---|---|---|---|")
        for name, result in results.items():
            median = medians[name]
            print("| %s | %.0f ms | %.0f MiB/s | %.1f MiB | %.2f | %.2f |" % (
                name, median * 1000, total / 1048576 / median, result["peak"],
                medians["md5sum -P2"] / median, medians["LoadManifest x1"] / median))
        print()
        for name, result in results.items():
            print("%-17s %s" % (name, " ".join("%.0f" % (s * 1000) for s in result["seconds"])))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
