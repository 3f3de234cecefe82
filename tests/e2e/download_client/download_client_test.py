"""The download client (DownloadTask over WinINet, under Wine, through download-probe) against the
local file server: the request as it arrives, whole and resumed files, answers that are not the
file, bodies that end early, run long or have no length, and the receive time-out against a server
that stops sending."""

import json
import os
import shutil
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "servers"))
sys.path.insert(0, os.path.join(HERE, "..", "harness"))

import file_server  # noqa: E402
import velmora_e2e  # noqa: E402

DOWNLOAD_PROBE = os.path.join(velmora_e2e.WINDOWS_BUILD_DIR, "tools", "download_probe", "download-probe.exe")

# The task's own header lines: every request carries them byte for byte and in this order.
TASK_LINES = [
    b"Accept: */*",
    b"Accept-Language: zh-cn",
    b"Accept-Encoding: identity",
    b"User-Agent: Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)",
]
CHUNK = 10240
USER_DATA = 0x5EED  # what download-probe passes as userData

# DownloadResult
OK, READ_FAILED, URL_OPEN_FAILED, EMPTY_CONTENT = 0, 1, 3, 4


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def low32(value):
    """A 64-bit count as the progress callback passes it: its low 32 bits, signed."""
    value &= 0xFFFFFFFF
    return value - (1 << 32) if value >= 1 << 31 else value


class DownloadClientTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.exists(DOWNLOAD_PROBE):
            raise unittest.SkipTest(f"the Windows build is missing ({DOWNLOAD_PROBE})")
        cls.server = file_server.FileServer()
        cls.data = file_server.Pattern(3 * 1000 * 1000).bytes()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def setUp(self):
        self.wine = velmora_e2e.Wine()
        self.addCleanup(self.wine.end_all)
        self.directory = tempfile.mkdtemp(prefix="velmora-download-")
        self.addCleanup(shutil.rmtree, self.directory, True)

    def local(self, name, content=None):
        path = os.path.join(self.directory, name)
        if content is not None:
            with open(path, "wb") as out:
                out.write(content)
        return path

    def content(self, path):
        with open(path, "rb") as source:
            return source.read()

    def download(self, route, local, *options, timeout=90):
        """download-probe's answer (a dict) for fetching the server's `route` into `local`."""
        for _ in range(2):
            requests_before = len(self.server.requests(route))
            process = self.wine.start(DOWNLOAD_PROBE, self.server.url(route), windows_path(local), *options)
            output = self.wine.output_of(process, timeout=timeout)
            if output is None:
                raise AssertionError(f"download-probe {route} still running after {timeout} s")
            lines = [line for line in output.decode("ascii", "replace").splitlines() if line.startswith("{")]
            if lines:
                return json.loads(lines[-1])
            # Wine fails to start a program now and then; one that never reached the server may
            # run once more.
            if len(self.server.requests(route)) != requests_before:
                break
        self.fail(f"download-probe gave no answer for {route}")

    def assert_task_header_block(self, raw):
        """The task's lines arrive whole, in order, and its User-Agent is the only one."""
        self.assertTrue(raw.endswith(b"\r\n\r\n"), raw)
        lines = raw[:-4].split(b"\r\n")[1:]
        start = 0
        for line in TASK_LINES:
            self.assertIn(line, lines[start:], raw)
            start = lines.index(line, start) + 1
        agents = [line for line in lines if line.lower().startswith(b"user-agent:")]
        self.assertEqual(agents, [TASK_LINES[-1]], raw)

    def assert_progress(self, answer, start, length):
        """Every chunk reported, positions rising from `start`, the last call at the end."""
        received = length - start
        self.assertGreaterEqual(answer["callbacks"], -(-received // CHUNK))
        self.assertTrue(answer["positionsIncrease"])
        first, last = answer["first"], answer["last"]
        self.assertEqual(first[0], low32(received))
        self.assertTrue(0 < first[3] <= CHUNK and first[1] == start + first[3], first)
        self.assertEqual(last, [low32(received), low32(length), answer["elapsedMs"], low32(received), USER_DATA])

    def test_a_file_arrives_whole_with_the_task_header_block(self):
        self.server.serve("/file.bin", self.data)
        local = self.local("file.bin", b"an older, longer file" * 200000)
        answer = self.download("/file.bin", local)

        self.assertEqual(answer["result"], OK)
        self.assertEqual(self.content(local), self.data)
        length = len(self.data)
        self.assertEqual((answer["contentLength"], answer["position"], answer["receivedBytes"]),
                         (length, length, length))
        self.assert_progress(answer, 0, length)

        self.assertEqual(bytes.fromhex(answer["headersHex"]), b"\r\n".join(TASK_LINES))
        [request] = self.server.requests("/file.bin")
        self.assertTrue(request.raw.startswith(b"GET /file.bin HTTP/1.1\r\n"), request.raw)
        self.assert_task_header_block(request.raw)
        self.assertIsNone(request.header("Range"))
        # The session's agent name never reaches the server: the task's User-Agent line wins.
        agent = bytes.fromhex(answer["agentHex"])
        self.assertTrue(agent)
        self.assertNotIn(agent, request.raw)

    def test_a_resume_appends_the_rest_from_the_offset(self):
        self.server.serve("/resume.bin", self.data)
        local = self.local("resume.bin", self.data[:1000])
        answer = self.download("/resume.bin", local, "--resume", "1000")

        self.assertEqual(answer["result"], OK)
        self.assertEqual(self.content(local), self.data)
        length = len(self.data)
        self.assertEqual((answer["contentLength"], answer["position"], answer["receivedBytes"]),
                         (length - 1000, length, length - 1000))
        self.assert_progress(answer, 1000, length)

        self.assertEqual(bytes.fromhex(answer["headersHex"]), b"\r\n".join(TASK_LINES) + b"\r\nRange:bytes=1000-")
        [request] = self.server.requests("/resume.bin")
        self.assert_task_header_block(request.raw)
        # WinINet passes the range on in its own spelling of the line.
        ranges = [line for line in request.raw.split(b"\r\n") if line.lower().startswith(b"range:")]
        self.assertEqual(len(ranges), 1, request.raw)
        self.assertRegex(ranges[0], rb"^Range: ?bytes=1000-$")

    def test_a_resume_answered_with_the_whole_file_leaves_the_local_part_as_it_was(self):
        # Appending the whole file to its first 1000 bytes would corrupt it.
        self.server.serve("/no-ranges.bin", self.data, ranges=False)
        local = self.local("no-ranges.bin", self.data[:1000])
        answer = self.download("/no-ranges.bin", local, "--resume", "1000")
        self.assertEqual((answer["result"], answer["status"]), (URL_OPEN_FAILED, 200))
        self.assertEqual(self.content(local), self.data[:1000])

    def test_answers_that_are_not_the_file_leave_the_local_file_untouched(self):
        known = b"known bytes \x00\xff of an earlier file"
        cases = {
            "/missing": dict(body=b"no such file", status=404),
            "/broken": dict(body=b"server error", status=500),
            "/gzip": dict(body=self.data[:50000], behaviour=file_server.GZIP),
        }
        for route, options in cases.items():
            with self.subTest(route=route):
                self.server.serve(route, **options)
                local = self.local(route.strip("/") + ".bin", known)
                answer = self.download(route, local)
                self.assertEqual(answer["result"], URL_OPEN_FAILED)
                self.assertEqual(answer["callbacks"], 0)
                self.assertEqual(self.content(local), known)

    def test_a_body_without_a_length_is_empty_content(self):
        for chunked in (True, False):
            with self.subTest(chunked=chunked):
                route = "/no-length-%s" % ("chunked" if chunked else "close")
                self.server.serve(route, self.data[:50000], behaviour=file_server.NO_LENGTH, chunked=chunked)
                answer = self.download(route, self.local("no-length.bin"))
                self.assertEqual((answer["result"], answer["callbacks"]), (EMPTY_CONTENT, 0))

    def test_a_body_cut_short_fails_and_keeps_what_came(self):
        self.server.serve("/cut.bin", self.data, behaviour=file_server.DROP, cut=100000)
        local = self.local("cut.bin")
        answer = self.download("/cut.bin", local)
        self.assertEqual(answer["result"], READ_FAILED)
        self.assertEqual((answer["contentLength"], answer["position"]), (len(self.data), 100000))
        self.assertEqual(self.content(local), self.data[:100000])

    def test_a_length_beyond_32_bits_is_read_whole(self):
        size = 5 << 30  # announced only: the server sends 50000 bytes and closes
        self.server.serve("/huge.bin", file_server.Pattern(size), behaviour=file_server.DROP, cut=50000)
        answer = self.download("/huge.bin", self.local("huge.bin"))
        self.assertEqual(answer["result"], READ_FAILED)
        self.assertEqual((answer["announced"], answer["contentLength"], answer["position"]), (size, size, 50000))
        self.assertEqual(answer["first"][0], low32(size))

    def test_an_oversized_body_never_leaves_more_than_the_announced_length(self):
        body = self.data[:50000]
        self.server.serve("/oversized.bin", body, behaviour=file_server.OVERSIZED, extra=b"X" * 5000)
        local = self.local("oversized.bin")
        answer = self.download("/oversized.bin", local)
        self.assertIn(answer["result"], (OK, READ_FAILED))
        written = self.content(local)
        self.assertEqual(written, body[:len(written)])
        # WinINet stops at the announced length; a success holds exactly the file.
        if answer["result"] == OK:
            self.assertEqual(written, body)

    def test_a_slow_body_within_the_receive_timeout_arrives(self):
        body = self.data[:24000]
        self.server.serve("/slow.bin", body, behaviour=file_server.DRIP, step=2000, interval=0.15)
        local = self.local("slow.bin")
        answer = self.download("/slow.bin", local, "--receive-timeout", "3000")
        self.assertEqual(answer["result"], OK)
        self.assertEqual(self.content(local), body)

    def test_a_drip_far_below_a_chunk_per_timeout_still_arrives(self):
        # 200 bytes a second: a 10 KiB read would wait 50 s, well past the 2 s time-out, unless
        # only what has arrived is read.
        body = self.data[:1000]
        self.server.serve("/drip.bin", body, behaviour=file_server.DRIP, step=100, interval=0.5)
        local = self.local("drip.bin")
        answer = self.download("/drip.bin", local, "--receive-timeout", "2000")
        self.assertEqual(answer["result"], OK)
        self.assertEqual(self.content(local), body)

    def test_a_server_that_stops_sending_fails_within_the_receive_timeout(self):
        cases = {
            "/stall-after-data": (dict(behaviour=file_server.STALL, cut=30000), READ_FAILED),
            "/stall-before-data": (dict(behaviour=file_server.STALL, cut=0), READ_FAILED),
            "/no-answer": (dict(behaviour=file_server.SILENT), URL_OPEN_FAILED),
        }
        for route, (options, result) in cases.items():
            with self.subTest(route=route):
                self.server.serve(route, self.data, **options)
                local = self.local("stall.bin")
                answer = self.download(route, local, "--receive-timeout", "2000", timeout=60)
                self.assertEqual(answer["result"], result)
                self.assertEqual(answer["receiveTimeoutMs"], 2000)
                self.assertTrue(1900 <= answer["ms"] <= 10000, answer["ms"])
                if result == READ_FAILED:
                    self.assertEqual(self.content(local), self.data[:answer["position"]])

    def test_the_default_receive_timeout_ends_a_stall(self):
        # No time-out given: the platform's default (30 s) still ends a read that gets nothing.
        self.server.serve("/stall-default", self.data, behaviour=file_server.STALL, cut=0)
        answer = self.download("/stall-default", self.local("stall.bin"), timeout=120)
        self.assertEqual(answer["result"], READ_FAILED)
        self.assertTrue(29000 <= answer["ms"] <= 45000, answer["ms"])


if __name__ == "__main__":
    unittest.main()
