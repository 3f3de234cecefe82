#!/usr/bin/env python3
"""Prints, after CTest's summary, why each failed test failed: the lines of its output that name a
failure (assertions, tracebacks, gtest failures), at most 40 per test, taken from CTest's log. CI
keeps only the end of the output, and that is where these lines must be."""

import re
import sys

INTERESTING = re.compile(r"FAIL|Failure|Error|error:|assert|Traceback|Expected|Which is|seed \d+|Timeout|"
                         r"File \"|^\s+\w+Error", re.IGNORECASE)


def outputs(log_text):
    """{test name: its output} for every test in CTest's LastTest.log."""
    found = {}
    for match in re.finditer(r"^\d+/\d+ Testing: (\S+)\n(.*?)^<end of output>", log_text, re.S | re.M):
        name, block = match.group(1), match.group(2)
        found[name] = block.split("Output:\n", 1)[-1]
    return found


def main(log_path, failed_path):
    try:
        with open(failed_path, encoding="utf-8", errors="replace") as f:
            failed = [line.strip().split(":", 1)[-1] for line in f if line.strip()]
        with open(log_path, encoding="utf-8", errors="replace") as f:
            texts = outputs(f.read())
    except OSError as error:
        print(f"no failure report: {error}")
        return
    for name in failed:
        lines = [line for line in texts.get(name, "").splitlines() if INTERESTING.search(line)]
        print(f"--- why {name} failed ({len(lines)} lines of its output name a failure; the last 40) ---")
        for line in lines[-40:]:
            print(line[:300])


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
