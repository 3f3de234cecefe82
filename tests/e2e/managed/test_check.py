"""--check under Wine: only the update check. One line on standard output says what is waiting
(the number of files, their bytes and their names as JSON strings, in UTF-8) with exit code 10, or
"up to date" with 0. Nothing is downloaded or installed, no window or dialog appears, and the
hand-off file stays for the run that will update."""

import json
import re
import unittest

from managed_support import UP_TO_DATE, UPDATE_WAITING, ManagedTestCase, e2e

UPDATE_LINE = re.compile(r"update: (?P<files>\d+) files?, (?P<at_least>at least )?(?P<bytes>\d+) bytes: (?P<names>.+)")


def json_names(text):
    """The JSON strings of `text`, separated by one space each; ValueError when it is anything else."""
    decoder = json.JSONDecoder()
    names, position = [], 0
    while True:
        name, position = decoder.raw_decode(text, position)
        if not isinstance(name, str):
            raise ValueError(f"{name!r} is not a JSON string")
        names.append(name)
        if position == len(text):
            return names
        if text[position] != " ":
            raise ValueError(f"no single space after name {len(names)}: {text[position:]!r}")
        position += 1


class CheckTest(ManagedTestCase):
    def parse_update_line(self, run):
        """(files, at least?, bytes, names) of the run's one line."""
        try:
            text = run.output.decode("utf-8")
        except UnicodeDecodeError:
            self.fail(f"the output is not UTF-8: {run.output!r}")
        self.assertTrue(text.endswith("\n") and text.count("\n") == 1, f"not exactly one line: {text!r}")
        match = UPDATE_LINE.fullmatch(text[:-1])
        self.assertIsNotNone(match, f"not the update line: {text!r}")
        try:
            names = json_names(match["names"])
        except ValueError as error:
            self.fail(f"the names are not JSON strings ({error}): {text!r}")
        return int(match["files"]), bool(match["at_least"]), int(match["bytes"]), names

    def assert_nothing_fetched(self, run_dir, run, entries, hand_off):
        self.assert_nothing_shown(run)
        self.assertEqual(self.server.requests(), [], "a file was asked for")
        self.assertEqual(e2e.staging_leftovers(run_dir.path), [])
        self.assert_untouched([e for e in entries if e["old"] is not None])
        self.assert_hand_off_kept(run_dir, hand_off)
        self.assertEqual(e2e.commit_state_left(run_dir.path), [])

    def test_a_waiting_update_is_one_line_and_nothing_is_fetched(self):
        run_dir = self.make_run_directory()
        product = self.entry(run_dir, "\\Velmora.exe", b"Velmora 2" * 5000, old=b"Velmora 1")
        library = self.entry(run_dir, "\\Bin\\中文 名.dll", "库".encode("utf-8") * 7000, old=b"library 1")
        current = self.entry(run_dir, "\\readme.txt", b"read me", old=b"read me")
        entries = [product, library, current]
        hand_off = self.hand_off(run_dir, entries, sizes=True)

        run = self.run_updater(run_dir, "--check", "--handoff")
        self.assert_exit(run, UPDATE_WAITING)
        files, at_least, size, names = self.parse_update_line(run)
        self.assertEqual((files, at_least, size), (2, False, len(product["new"]) + len(library["new"])), run.output)
        self.assertEqual(names, ["\\Velmora.exe", "\\Bin\\中文 名.dll"])
        self.assert_nothing_fetched(run_dir, run, entries, hand_off)
        self.assert_logged(run, "check", [product["path"], library["path"]], manifest=True)

        # An entry without a size: the count is what the others list, and says "at least"; a file
        # the release adds is waiting too.
        added = self.entry(run_dir, "\\Bin\\Plugins\\新增 插件.dat", b"added" * 900)
        library["size"] = None
        entries.append(added)
        hand_off = self.hand_off(run_dir, entries, sizes=True)
        run = self.run_updater(run_dir, "--quiet", "--check", "--handoff")  # --quiet too: still a check
        self.assert_exit(run, UPDATE_WAITING)
        files, at_least, size, names = self.parse_update_line(run)
        self.assertEqual((files, at_least, size), (3, True, len(product["new"]) + len(added["new"])), run.output)
        self.assertEqual(names, ["\\Velmora.exe", "\\Bin\\中文 名.dll", "\\Bin\\Plugins\\新增 插件.dat"])
        self.assert_nothing_fetched(run_dir, run, entries, hand_off)
        self.assert_logged(run, "check", manifest=True)

    def test_up_to_date(self):
        run_dir = self.make_run_directory()
        entries = [self.entry(run_dir, "\\Velmora.exe", b"Velmora 2", old=b"Velmora 2"),
                   self.entry(run_dir, "\\Bin\\中文 名.dll", b"library 2", old=b"library 2")]
        hand_off = self.hand_off(run_dir, entries, sizes=True)
        run = self.run_updater(run_dir, "--check", "--handoff")
        self.assert_exit(run, UP_TO_DATE)
        self.assertEqual(run.output, b"up to date\n")
        self.assert_nothing_fetched(run_dir, run, entries, hand_off)
        self.assert_logged(run, "check", manifest=True)


if __name__ == "__main__":
    unittest.main()
