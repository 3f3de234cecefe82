"""The updater's log, Bin\\Config\\update.log, read back: UTF-8, one event a line, every line
starting with the local time, its offset from UTC and the run's identifier (8 hex digits):

    2026-12-08 15:04:05.123 +08:00 3fa91c07 start: version 1.0.0, mode quiet, arguments "--quiet"

The checks hold on to what an administrator's scripts rely on (the prefix of every line, one
identifier per run, the start with its mode and arguments, the exit code) and look at the wording
of the other lines only for the names, numbers and statuses they must carry."""

import datetime
import json
import re

import velmora_e2e as e2e

LINE = re.compile(r"^(?P<date>\d{4}-\d{2}-\d{2}) (?P<time>\d{2}:\d{2}:\d{2})\.(?P<ms>\d{3}) "
                  r"(?P<sign>[+-])(?P<hours>\d{2}):(?P<minutes>\d{2}) (?P<run>[0-9A-Fa-f]{8}) (?P<text>\S.*)$")
EXIT = re.compile(r"\bexit(?:ed)?\b\D{0,12}?(\d+)\b", re.IGNORECASE)
ROTATED = e2e.UPDATE_LOG + ".1"


class LogLine:
    def __init__(self, number, raw, match):
        self.number = number  # 1-based, in the file
        self.raw = raw
        self.run = match["run"].lower()
        self.text = match["text"]
        offset = datetime.timedelta(hours=int(match["hours"]), minutes=int(match["minutes"]))
        self.offset = offset if match["sign"] == "+" else -offset
        local = datetime.datetime.strptime(f"{match['date']} {match['time']}.{match['ms']}", "%Y-%m-%d %H:%M:%S.%f")
        self.time = local.replace(tzinfo=datetime.timezone(self.offset))

    def __repr__(self):
        return self.raw


def log_path(run_dir, relative=e2e.UPDATE_LOG):
    return e2e.local_path(run_dir.path, relative)


def log_bytes(run_dir, relative=e2e.UPDATE_LOG):
    """The log's bytes; none when it is missing or not a file."""
    try:
        with open(log_path(run_dir, relative), "rb") as source:
            return source.read()
    except (FileNotFoundError, IsADirectoryError):
        return b""


def parse(data, first_number=1):
    """The lines of log bytes `data`; AssertionError naming the first line that is not UTF-8 or not
    in the log's form (a line cut short at the end of the file counts too)."""
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as error:
        raise AssertionError(f"the log is not UTF-8: {error}; around {data[max(error.start - 40, 0):error.end + 40]!r}")
    if text and not text.endswith("\n"):
        raise AssertionError(f"the log's last line is not ended: {text.splitlines()[-1]!r}")
    lines = []
    for number, raw in enumerate(text.split("\n")[:-1], start=first_number):
        raw = raw[:-1] if raw.endswith("\r") else raw
        match = LINE.match(raw)
        if not match:
            raise AssertionError(f"log line {number} lacks the time, offset and run identifier: {raw!r}")
        lines.append(LogLine(number, raw, match))
    return lines


def runs_of(lines):
    """{run identifier: its lines} in the order the runs first wrote."""
    runs = {}
    for line in lines:
        runs.setdefault(line.run, []).append(line)
    return runs


def exit_code_of(run_lines):
    """The exit code that the run's last line names, or None when its last line names none."""
    match = EXIT.search(run_lines[-1].text) if run_lines else None
    return int(match.group(1)) if match else None


def lines_naming(run_lines, *words):
    """The run's lines that hold every one of `words`."""
    return [line for line in run_lines if all(word in line.text for word in words)]


def describe(run_lines):
    return "\n".join(line.raw for line in run_lines)


def has_number(text, number):
    """Whether `number` stands in `text` as a number of its own (not part of a longer one; digit
    grouping with "," allowed)."""
    plain = str(number)
    grouped = f"{number:,}"
    return any(re.search(r"(?<![\d,.])" + re.escape(form) + r"(?![\d,])", text) for form in {plain, grouped})


def lines_of_path(lines, path):
    """The lines naming the manifest path `path` ("\\Bin\\x.dll"), as it is or as a JSON string
    writes it, and as itself, not as the start of a longer name (its staging file's): followed by
    the end, a space, a quote or a punctuation mark other than "." and "\\"."""
    forms = {path, json.dumps(path, ensure_ascii=False)[1:-1]}
    pattern = re.compile("(?:" + "|".join(re.escape(form) for form in forms) + r")(?![^\s\"',;:)\]}])")
    return [line for line in lines if pattern.search(line.text)]
