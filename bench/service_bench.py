#!/usr/bin/env python3
"""The window's update of many small files directly and through the update service, side by side,
under Wine. From the repository's root:

    VELMORA_FORCE_XVFB=1 scripts/with-display.sh python3 bench/service_bench.py [--files 1000] \
        [--file-kib 3] [--rounds 3] [--baseline OTHER_BUILD/windows]

Needs the native build (velmora-release) and the Windows build with its test programs
(velmora-update-test-key.exe, ui-probe.exe), as the end-to-end tests do; it runs in a Wine session
and the test prefix of its own (build/wine-prefix, made fresh by scripts/wine-prefix.sh when missing).
One release of `--files` files is published and signed with the tests' key and served by the tests'
release site (the manifest over HTTPS through their tunnel proxy, the files from 127.0.0.1). Each
round updates two fresh copies of the older release with the window, in turn: the first directly,
the second with the update service installed for it (so the window's update goes through the
service). Each is timed from the click on the start button until the notice "更新完成" is up (every
file downloaded, checked and committed, the grid caught up); the run log's commit line is printed
too. Goal: the service's route at most 1.15x the direct route's time (median of the rounds). With `--baseline
DIR` (the Windows build of an earlier commit), each round also times that build's updater both
ways, so that a change is measured against what it replaced in the same run."""

import argparse
import os
import shutil
import sys
import time
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
E2E = os.path.join(ROOT, "tests", "e2e")
for folder in ("harness", "managed", "whole_release", "downloads", "release", "update_check"):
    sys.path.insert(0, os.path.join(E2E, folder))

OPTIONS = argparse.Namespace(files=1000, file_kib=3, rounds=3, baseline=None)


def release(files, size, version):
    tree = {"Velmora.exe": b"product %d" % version}
    for index in range(files):
        head = b"%d:%d:" % (version, index)
        tree["Data/part%04d.bin" % index] = head + bytes((index * 7 + i) % 251 for i in range(size - len(head)))
    return tree


def bench_case():
    from test_service import SIGNED_UPDATER, ServiceTest  # noqa: E402 (needs the harness on the path)
    import velmora_e2e as e2e  # noqa: E402
    from managed_support import run_log  # noqa: E402

    class ServiceRouteBench(ServiceTest):
        def timed_update(self, run_dir):
            kind, grid = self.start_until_settled(run_dir, rows=0, timeout=300)
            self.assertEqual(kind, "grid", grid)
            clicked = time.monotonic()
            self.wine.probe("click-button", "--pid", self.updater_pid)
            notice = self.wait_for_notice(timeout=600)
            seconds = time.monotonic() - clicked
            self.assertEqual(notice["content"], "[确定]运行软件 [取消]退出更新", notice)
            self.press_notice(e2e.IDCANCEL)
            self.wine.wait(self.updater, timeout=120)
            lines = run_log.describe(run_log.parse(run_log.log_bytes(run_dir)))
            if os.environ.get("VELMORA_BENCH_LOGS"):
                with open(os.path.join(os.environ["VELMORA_BENCH_LOGS"], "%s.log" % time.time()), "w") as out:
                    out.write(lines)
            commit = [line for line in lines.splitlines() if "commit: " in line]
            return seconds, commit[-1].strip() if commit else ""

        def both_routes(self, old, program):
            direct_dir = self.keyed_run_dir(old)
            shutil.copy2(program, direct_dir.program)
            direct, direct_commit = self.timed_update(direct_dir)
            service_dir = self.keyed_run_dir(old)
            shutil.copy2(program, service_dir.program)
            self.command(service_dir, "--install-service")
            service, service_commit = self.timed_update(service_dir)
            self.command(service_dir, "--remove-service")
            return direct, service, direct_commit, service_commit

        def test_service_route_against_the_direct_one(self):
            size = OPTIONS.file_kib * 1024
            old, new = release(OPTIONS.files, size, 1), release(OPTIONS.files, size, 2)
            published = e2e.read_tree(self.publish(new))
            self.site.serve_manifest(published["download/2099/pro/up.txt"], published["download/2099/pro/up.txt.sig"])
            print("\n%d files of %d KiB, %d rounds (load average %s)" % (
                OPTIONS.files, OPTIONS.file_kib, OPTIONS.rounds, " ".join(open("/proc/loadavg").read().split()[:3])))
            programs = [("this build", SIGNED_UPDATER)]
            if OPTIONS.baseline:
                programs.append(("baseline", os.path.join(OPTIONS.baseline, "tests", os.path.basename(SIGNED_UPDATER))))
            ratios = {label: [] for label, _ in programs}
            for round_number in range(1, OPTIONS.rounds + 1):
                for label, program in programs:
                    direct, service, direct_commit, service_commit = self.both_routes(old, program)
                    ratios[label].append(service / direct)
                    print("round %d, %s: direct %.2f s, through the service %.2f s, service / direct %.3f" % (
                        round_number, label, direct, service, service / direct))
                    print("  direct:  %s\n  service: %s" % (direct_commit, service_commit))
            for label, values in ratios.items():
                values.sort()
                print("%s: service / direct, median of %d: %.3f (goal: <= 1.15)" % (
                    label, len(values), values[len(values) // 2]))

    return ServiceRouteBench


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--files", type=int, default=OPTIONS.files)
    parser.add_argument("--file-kib", type=int, default=OPTIONS.file_kib)
    parser.add_argument("--rounds", type=int, default=OPTIONS.rounds)
    parser.add_argument("--baseline", help="the Windows build folder of an earlier commit, timed beside this one")
    parser.parse_args(namespace=OPTIONS)
    build = os.environ.get("VELMORA_BUILD_ROOT") or os.path.join(ROOT, "build")
    os.environ.setdefault("VELMORA_WINDOWS_BUILD_DIR", os.path.join(build, "windows"))
    os.environ.setdefault("VELMORA_SOURCE_DIR", ROOT)
    os.environ.setdefault("VELMORA_RELEASE_TOOL", os.path.join(build, "native", "tools", "release", "velmora-release"))
    if not os.environ.get("VELMORA_IN_WINE_SESSION"):
        # One Wine session held open for the whole benchmark, as CTest runs the end-to-end tests.
        os.environ["VELMORA_IN_WINE_SESSION"] = "1"
        os.execv(os.path.join(ROOT, "scripts", "wine-session.sh"),
                 [os.path.join(ROOT, "scripts", "wine-session.sh"), sys.executable, os.path.abspath(__file__)] + sys.argv[1:])
    # The bench's own case alone, not those it inherits from the service's tests.
    suite = unittest.TestSuite([bench_case()("test_service_route_against_the_direct_one")])
    result = unittest.TextTestRunner(verbosity=1).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
