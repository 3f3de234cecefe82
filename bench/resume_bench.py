#!/usr/bin/env python3
"""Resuming a large download under Wine: a 512 MiB file whose connection drops at 90%, fetched by
the updater from 127.0.0.1. Reports the bytes the server sent in all against the file's size (goal:
at most 1.1x) and the time from the start button to the notice, in two cases:

  whole      no drop: the baseline
  in-run     the connection drops once; the updater resumes within the run
  next-run   it drops on both transfers of the first run (the row fails and keeps what arrived);
             a second run resumes from there

    VELMORA_FORCE_XVFB=1 scripts/with-display.sh python3 bench/resume_bench.py [--size-mib 512]

Needs the Windows build (velmora-update.exe and ui-probe.exe); it uses a Wine prefix of its own
(build/resume-bench/wine-prefix), since the UI probe sees every window of a prefix.
"""

import argparse
import hashlib
import json
import os
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
WORK = os.path.join(ROOT, "build", "resume-bench")
os.environ["VELMORA_WINEPREFIX"] = os.path.join(WORK, "wine-prefix")
for name in [n for n in os.environ if n.lower().endswith("_proxy")]:
    del os.environ[name]
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e", "harness"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e", "servers"))

import file_server  # noqa: E402
import velmora_e2e as e2e  # noqa: E402

ROUTE = "/release/large.pak"


def digest_of(pattern):
    md5 = hashlib.md5()
    for start in range(0, len(pattern), 1 << 20):
        md5.update(pattern.bytes(start, start + (1 << 20)))
    return md5.hexdigest()


def one_run(wine, run_dir, url, md5):
    """Starts the updater on the one-file hand-off manifest, clicks the start button and waits for
    the notice; returns (seconds from the click to the notice, the row's final status)."""
    e2e.write_hand_off_entries(run_dir, [{"path": "\\large.pak", "url": url, "md5": md5}])
    updater = wine.start(run_dir.program, "--from-product")
    pid = str(wine.probe("window", "--wait", "60000", timeout=90)["window"]["pid"])
    wine.wait_for(lambda: wine.probe("button", "--pid", pid, check=False).get("button", {}).get("enabled"),
                  timeout=60, message="the enabled start button")
    wine.probe("click-button", "--pid", pid)
    clicked = time.monotonic()
    notice = wine.wait_for(lambda: wine.probe("notice", "--pid", pid, check=False).get("notice"),
                           timeout=1800, interval=0.5, message="the notice")
    seconds = time.monotonic() - clicked
    status = wine.probe("grid", "--pid", pid)["grid"]["rows"][0][e2e.COLUMN_STATUS]
    wine.probe("notice-press", str(e2e.IDCANCEL if notice["content"].startswith("[") else e2e.IDOK), "--pid", pid)
    wine.wait(updater, timeout=60)
    return seconds, status


def case(name, size, drops, runs):
    server = file_server.FileServer()
    pattern = file_server.Pattern(size)
    md5 = digest_of(pattern)
    server.serve(ROUTE, pattern, drop_at=size * 9 // 10, drops=drops)
    run_dir = e2e.RunDirectory(parent=WORK)
    wine = e2e.Wine()
    try:
        results = [one_run(wine, run_dir, server.url(ROUTE), md5) for _ in range(runs)]
        with open(os.path.join(run_dir.path, "large.pak"), "rb") as installed:
            whole = hashlib.md5()
            for piece in iter(lambda: installed.read(1 << 20), b""):
                whole.update(piece)
        ranges = [r.header("Range") for r in server.requests(ROUTE)]
        return {"case": name, "size": size, "sent": server.sent(ROUTE), "ratio": server.sent(ROUTE) / size,
                "runs": [{"seconds": round(s, 2), "status": st} for s, st in results], "ranges": ranges,
                "intact": whole.hexdigest() == md5}
    finally:
        wine.end_all()
        run_dir.cleanup()
        server.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--size-mib", type=int, default=512)
    size = parser.parse_args().size_mib << 20
    os.makedirs(WORK, exist_ok=True)
    for result in (case("whole", size, drops=0, runs=1), case("in-run", size, drops=1, runs=1),
                   case("next-run", size, drops=2, runs=2)):
        print(json.dumps(result, ensure_ascii=False), flush=True)


if __name__ == "__main__":
    main()
