#!/usr/bin/env python3
"""A product that is up to date, under Wine: how long the quiet run, the --check run and the
window's update check take to find that out, in one run.

    VELMORA_FORCE_XVFB=1 scripts/with-display.sh python3 bench/up_to_date_bench.py \
        [--windows-build build/windows] [--files 2000] [--mib 1024] [--rounds 5] [--work DIR] [--keep]
        [--cold-wine]

Writes a run directory of FILES files, MIB MiB in all (the shape of bench/release_bench.py: sizes
from half to one and a half of the mean, in eight folders, every fifth name Chinese), copies
velmora-update.exe into it, and computes a hand-off manifest (Bin\\Config\\UP.data, GBK) listing
every file with its MD5 and size, so that every file is current. It reads every file once so that
the page cache is warm, runs each mode once untimed (Wine's own files warm too), then, round after
round, in turn (the order rotating from round to round; the hand-off file written again before
each run, untimed):

  quiet    velmora-update.exe --quiet --handoff, from the process's start to its exit (code 0)
  window   velmora-update.exe --handoff, from the process's start until the task dialog
           "Velmora - Update" with "没有需要更新的文件" appears; a ui-probe.exe started beforehand
           waits for it (it looks every 50 ms), then presses its OK (exit code 0)
  check    velmora-update.exe --check --handoff, from the process's start to its exit (code 0,
           standard output "up to date")

"The process's start" is the moment this script starts scripts/wine-run.sh, so every figure holds
Wine's start of the program. A wineserver and an idle Wine program (cmd.exe waiting for its input)
run for the whole benchmark, so that Wine's own system processes (services, the desktop) are up
for every run, as Windows' are when a scheduled task starts the updater: otherwise a run that
follows none pays for starting them and the window's run, whose probe starts first, does not
(--cold-wine leaves the idle program out).

Each run's log (Bin\\Config\\update.log, millisecond times) gives the same spans inside the
process: from its "start:" line to its exit line, or for the window to the dialog. The processor
time (user and system) of the updater's process is the kernel's count at its end (the window's
includes the moments until its OK is pressed). On a machine shared with other work, "waited" is
the longest time one of the updater's threads spent ready to run but waiting for a core
(schedstat, read every 10 ms; up to the dialog for the window): a run that waited longer than
another was slowed by the machine's load, not by its own work.

Prints the median of each, the ratios quiet / window (goal: at most 1.2) and check / window, the
median of each round's own quiet / window (steadier on a machine shared with other work), and
every round. Everything below --work (default: $VELMORA_BUILD_ROOT/up-to-date-bench, or
build/up-to-date-bench; a Wine prefix of its own, so the probe sees only this updater's dialog) is
removed at the end unless --keep.
"""

import argparse
import hashlib
import json
import os
import queue
import shutil
import statistics
import subprocess
import sys
import threading
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run.sh")
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import run_log_times  # noqa: E402
from release_bench import make_release  # noqa: E402

NOTHING_TO_UPDATE = "没有需要更新的文件"
DEFAULT_WORK = os.path.join(os.environ.get("VELMORA_BUILD_ROOT") or os.path.join(ROOT, "build"), "up-to-date-bench")


class Bench:
    def __init__(self, windows_build, work):
        self.work = work
        self.run = os.path.join(work, "run")
        self.program = os.path.join(self.run, "velmora-update.exe")
        self.probe = os.path.join(windows_build, "tools", "ui_probe", "ui-probe.exe")
        self.environment = dict(os.environ)
        for name in list(self.environment):
            if name.lower().endswith("_proxy"):
                del self.environment[name]
        self.environment["VELMORA_WINEPREFIX"] = os.path.join(work, "wine-prefix")
        self.hand_off = b""

    def write_release(self, windows_build, files, mib):
        shutil.rmtree(self.run, ignore_errors=True)
        paths, total = make_release(self.run, files, mib << 20)
        data = []
        for path in paths:  # hashing reads every file: the page cache is warm afterwards
            digest = hashlib.md5()
            with open(path, "rb") as source:
                for piece in iter(lambda: source.read(1 << 20), b""):
                    digest.update(piece)
            relative = "\\" + os.path.relpath(path, self.run).replace("/", "\\")
            data.append({"name": os.path.basename(path), "md5": digest.hexdigest(), "url":
                         "http://127.0.0.1:9/files/" + digest.hexdigest(), "path": relative,
                         "size": os.path.getsize(path)})
        self.hand_off = json.dumps({"run": "Velmora.exe", "data": data}, ensure_ascii=False).encode("gbk")
        os.makedirs(os.path.join(self.run, "Bin", "Config"), exist_ok=True)
        shutil.copy2(os.path.join(windows_build, "src", "velmora-update.exe"), self.program)
        return len(paths), total

    def warm_cache(self):
        for folder, _, names in os.walk(self.run):
            for name in names:
                with open(os.path.join(folder, name), "rb") as source:
                    while source.read(1 << 20):
                        pass

    def _prepare(self):
        with open(os.path.join(self.run, "Bin", "Config", "UP.data"), "wb") as out:
            out.write(self.hand_off)

    def _start(self, arguments, program=None, stdout=subprocess.DEVNULL):
        return subprocess.Popen([WINE_RUN, program or self.program, *arguments], stdout=stdout,
                                stderr=subprocess.DEVNULL, env=self.environment)

    def _in_process(self, started_wall, end_prefix=None, end_wall=None):
        """(seconds from the log's start line to its line starting with `end_prefix`, or to
        `end_wall`; the log's start line's delay after the process's start)."""
        lines = run_log_times.last_run(self.run)
        start = run_log_times.time_of(lines, "start: ")
        end = run_log_times.time_of(lines, end_prefix) if end_prefix else end_wall
        if start is None or end is None:
            return None, None
        return end - start, start - started_wall

    def unattended(self, *arguments):
        """A quiet or --check run from its start to its exit."""
        self._prepare()
        started_wall, started = time.time(), time.monotonic()
        process = self._start(arguments, stdout=subprocess.PIPE)
        waits = ThreadWaits(process.pid)
        try:
            output = process.stdout.read()
            cpu = wait_for_exit(process, 600)
            seconds = time.monotonic() - started
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()
            waited = waits.stop()
        inside, delay = self._in_process(started_wall, "exit: ")
        return {"seconds": seconds, "code": process.returncode, "output": output.decode("utf-8", "replace").strip(),
                "inside": inside, "log_start_delay": delay, "cpu": cpu, "waited": waited}

    def window(self):
        """The window's run from its start until its "nothing to update" dialog appears."""
        self._prepare()
        waiter = self._start(["notice", "--wait", "600000"], program=self.probe, stdout=subprocess.PIPE)
        answers = queue.Queue()

        def read_answer():
            for line in waiter.stdout:
                if line.startswith(b"{"):
                    answers.put((time.time(), time.monotonic(), line))
            answers.put(None)
        threading.Thread(target=read_answer, daemon=True).start()
        # The probe must be looking before the updater starts: Wine starts a program in well under
        # this (the wineserver runs), and the probe looks again every 50 ms.
        time.sleep(2.0)
        started_wall, started = time.time(), time.monotonic()
        process = self._start(["--handoff"])
        waits = ThreadWaits(process.pid)
        try:
            answer = answers.get(timeout=600)
            waited = waits.stop()
            if answer is None:
                raise SystemExit("up_to_date_bench: the probe ended without finding the dialog")
            seen_wall, seen, line = answer
            notice = json.loads(line.decode("utf-8")).get("notice", {})
            subprocess.run([WINE_RUN, self.probe, "notice-press", "1"], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, env=self.environment, timeout=60)
            cpu = wait_for_exit(process, 60)
        finally:
            for started_process in (process, waiter):
                if started_process.poll() is None:
                    started_process.kill()
                    started_process.wait()
        inside, delay = self._in_process(started_wall, end_wall=seen_wall)
        return {"seconds": seen - started, "code": process.returncode, "output": notice.get("content"),
                "inside": inside, "log_start_delay": delay, "cpu": cpu, "waited": waited}


class ThreadWaits:
    """Reads, every 10 ms until stopped, how long each thread of a process has run and waited for
    a core (/proc/PID/task/TID/schedstat), keeping the last figures of threads that have ended."""

    def __init__(self, pid):
        self._pid = pid
        self._threads = {}
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._sample, daemon=True)
        self._thread.start()

    def _sample(self):
        folder = "/proc/%d/task" % self._pid
        while not self._stop.is_set():
            try:
                tasks = os.listdir(folder)
            except OSError:
                tasks = []
            for task in tasks:
                try:
                    with open(os.path.join(folder, task, "schedstat")) as stat:
                        ran, waited = (int(field) / 1e9 for field in stat.read().split()[:2])
                except (OSError, ValueError):
                    continue
                self._threads[task] = (ran, waited)
            self._stop.wait(0.01)

    def stop(self):
        """The longest wait for a core of one thread, in seconds."""
        self._stop.set()
        self._thread.join()
        return max((waited for _, waited in self._threads.values()), default=0.0)


def wait_for_exit(process, timeout):
    """Waits for `process` to end; returns the processor seconds (user and system) it used."""
    deadline = time.monotonic() + timeout
    while True:
        pid, status, usage = os.wait4(process.pid, os.WNOHANG)
        if pid == process.pid:
            process.returncode = os.waitstatus_to_exitcode(status)
            return usage.ru_utime + usage.ru_stime
        if time.monotonic() > deadline:
            raise subprocess.TimeoutExpired(process.args, timeout)
        time.sleep(0.002)


def check_outcome(mode, outcome):
    expected = {"quiet": "", "check": "up to date", "window": NOTHING_TO_UPDATE}[mode]
    if outcome["code"] != 0 or outcome["output"] != expected:
        raise SystemExit("up_to_date_bench: %s ended with code %s and %r (expected 0 and %r)" % (
            mode, outcome["code"], outcome["output"], expected))


def machine_facts():
    facts = []
    try:
        with open("/proc/cpuinfo") as cpu:
            model = next(line.split(":", 1)[1].strip() for line in cpu if line.startswith("model name"))
        facts.append("%s, %d cores" % (model, os.cpu_count()))
    except (OSError, StopIteration):
        facts.append("%d cores" % os.cpu_count())
    wine = subprocess.run(["wine", "--version"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    facts.append(wine.stdout.decode().strip())
    with open("/proc/loadavg") as load:
        facts.append("load average at the end %s" % " ".join(load.read().split()[:3]))
    return "; ".join(facts)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--windows-build", default=os.path.join(ROOT, "build", "windows"))
    parser.add_argument("--files", type=int, default=2000)
    parser.add_argument("--mib", type=int, default=1024)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--work", default=DEFAULT_WORK)
    parser.add_argument("--keep", action="store_true", help="keep the run directory and the prefix")
    parser.add_argument("--cold-wine", action="store_true",
                        help="no idle Wine program between the runs: each run starts Wine's system processes")
    options = parser.parse_args()

    work = os.path.abspath(options.work)
    os.makedirs(work, exist_ok=True)
    bench = Bench(options.windows_build, work)
    subprocess.run([os.path.join(ROOT, "scripts", "wine-prefix.sh")], env=bench.environment, check=True)
    # One wineserver for the whole benchmark, ended by its pid at the end.
    wineserver = subprocess.Popen(["bash", "-c", 'source "$1"; exec wineserver -f -p',
                                   "wineserver", os.path.join(ROOT, "scripts", "wine-env.sh")],
                                  env=bench.environment, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    resident = None
    if not options.cold_wine:
        resident = subprocess.Popen([WINE_RUN, "cmd.exe"], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL, env=bench.environment)
    try:
        print("writing %d files, %d MiB, to %s ..." % (options.files, options.mib, bench.run), flush=True)
        files, total = bench.write_release(options.windows_build, options.files, options.mib)
        bench.warm_cache()
        modes = {"quiet": lambda: bench.unattended("--quiet", "--handoff"),
                 "window": bench.window,
                 "check": lambda: bench.unattended("--check", "--handoff")}
        for mode, run in modes.items():  # untimed: Wine's and the program's files read once
            check_outcome(mode, run())
        results = {mode: [] for mode in modes}
        for round_number in range(1, options.rounds + 1):
            bench.warm_cache()
            names = list(modes)
            shift = (round_number - 1) % len(names)  # each mode comes first, second, last in turn
            for mode in names[shift:] + names[:shift]:
                outcome = modes[mode]()
                check_outcome(mode, outcome)
                results[mode].append(outcome)
            with open("/proc/loadavg") as load:
                load_now = load.read().split()[0]
            print("round %d (load %s): %s" % (round_number, load_now, "  ".join(
                "%s %.0f ms (log %.0f, cpu %.0f, waited %.0f)" % (
                    mode, results[mode][-1]["seconds"] * 1000, (results[mode][-1]["inside"] or float("nan")) * 1000,
                    results[mode][-1]["cpu"] * 1000, results[mode][-1]["waited"] * 1000)
                for mode in modes)), flush=True)

        median = {mode: statistics.median(o["seconds"] for o in outcomes) for mode, outcomes in results.items()}
        inside = {mode: statistics.median(o["inside"] for o in outcomes if o["inside"] is not None)
                  for mode, outcomes in results.items()}
        delay = {mode: statistics.median(o["log_start_delay"] for o in outcomes if o["log_start_delay"] is not None)
                 for mode, outcomes in results.items()}
        print()
        print("%d files, %.1f MiB, every one current; page cache warm; Wine's system processes %s; %s; "
              "medians of %d rounds:" % (files, total / 1048576, "started by each run" if options.cold_wine else
                                         "running", machine_facts(), options.rounds))
        cpu = {mode: statistics.median(o["cpu"] for o in outcomes) for mode, outcomes in results.items()}
        waited = {mode: statistics.median(o["waited"] for o in outcomes) for mode, outcomes in results.items()}
        print("| run | start to end | in the log: start line to end | start to the log's start line | "
              "processor time of the process | longest wait of a thread for a core | / window |")
        print("|---|---|---|---|---|---|---|")
        ends = {"quiet": "exit (code 0)", "window": "the dialog appears", "check": "exit (code 0, \"up to date\")"}
        for mode in modes:
            print("| %s, to %s | %.0f ms | %.0f ms | %.0f ms | %.0f ms | %.0f ms | %.2f |" % (
                mode, ends[mode], median[mode] * 1000, inside[mode] * 1000, delay[mode] * 1000, cpu[mode] * 1000,
                waited[mode] * 1000, median[mode] / median["window"]))
        print()
        for mode, outcomes in results.items():
            print("%-7s rounds (ms): %s" % (mode, " ".join("%.0f" % (o["seconds"] * 1000) for o in outcomes)))
        ratios = sorted(q["seconds"] / w["seconds"] for q, w in zip(results["quiet"], results["window"]))
        print("quiet / window: %.3f of the medians; median of the rounds' own ratios %.3f (%s) (goal: at most 1.2)" % (
            median["quiet"] / median["window"], statistics.median(ratios), " ".join("%.2f" % r for r in ratios)))
        print()
        print("one more quiet run's log, timed from its start line:")
        bench.unattended("--quiet", "--handoff")
        lines = run_log_times.last_run(bench.run)
        print(run_log_times.describe(lines, lines[0][0] if lines else 0))
    finally:
        if resident is not None:
            resident.stdin.close()  # cmd.exe ends at the end of its input
            try:
                resident.wait(timeout=30)
            except subprocess.TimeoutExpired:
                resident.kill()
                resident.wait()
        wineserver.terminate()
        wineserver.wait()
        if not options.keep:
            shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
