"""The updater's run log (Bin\\Config\\update.log) read for its times: every line starts with the
local time to the millisecond, its offset from UTC and the run's identifier,

    2026-12-08 15:04:05.123 +08:00 3fa91c07 start: version 1.0.0, mode quiet, arguments "--quiet"

so the lines of the last run give, in seconds since 1970 (comparable with time.time()), when
each of its events happened inside the process."""

import datetime
import os
import re

LINE = re.compile(r"^(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}) ([+-])(\d{2}):(\d{2}) ([0-9a-f]{8}) (.*)$")


def log_path(run_directory):
    return os.path.join(run_directory, "Bin", "Config", "update.log")


def last_run(run_directory):
    """[(seconds since 1970, text)] of the last run in the run directory's log; [] without a log."""
    try:
        with open(log_path(run_directory), encoding="utf-8", errors="replace") as log:
            raw_lines = log.read().splitlines()
    except FileNotFoundError:
        return []
    runs = {}
    order = []
    for raw in raw_lines:
        match = LINE.match(raw)
        if not match:
            continue
        stamp, sign, hours, minutes, run, text = match.groups()
        offset = datetime.timedelta(hours=int(hours), minutes=int(minutes))
        zone = datetime.timezone(offset if sign == "+" else -offset)
        moment = datetime.datetime.strptime(stamp, "%Y-%m-%d %H:%M:%S.%f").replace(tzinfo=zone).timestamp()
        if run not in runs:
            runs[run] = []
            order.append(run)
        runs[run].append((moment, text))
    return runs[order[-1]] if order else []


def time_of(lines, prefix):
    """The time of the first line whose text starts with `prefix`, or None."""
    return next((moment for moment, text in lines if text.startswith(prefix)), None)


def describe(lines, origin, limit=40):
    """The lines as "+1.234 s  text", timed from `origin` (seconds since 1970); a long run's
    middle is left out."""
    shown = lines if len(lines) <= limit else lines[:limit // 2] + [(None, "...")] + lines[-limit // 2:]
    return "\n".join("          ...  " + text if moment is None else "  %+8.3f s  %s" % (moment - origin, text)
                     for moment, text in shown)
