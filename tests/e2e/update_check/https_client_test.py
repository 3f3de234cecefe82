"""The program's HTTP client (WinINet under Wine, through https-probe) against the local HTTPS
server: certificates are checked, statuses and bodies arrive as sent, and the time limit holds
against a server that never answers or answers too slowly."""

import os
import socket
import tempfile
import unittest

import check_environment as env
from check_environment import https_server, test_ca


def get(network, url, timeout_ms=10000):
    """(status, body) of one HttpGet made inside the test prefix; only the manifest host is reached
    through the proxy, everything else directly."""
    wine = network.wine(through_proxy=url.startswith(env.manifest_origin()))
    try:
        process = wine.start(env.HTTPS_PROBE, "get", url, str(timeout_ms))
        output = wine.output_of(process, timeout=120)
        assert output is not None, f"https-probe get {url} did not end within 120 s"
    finally:
        wine.end_all()
    head, _, rest = output.partition(b"\n")
    length_line, _, body = rest.partition(b"\n")
    assert head.startswith(b"status ") and length_line.startswith(b"length "), output[:200]
    assert int(length_line.split()[1]) == len(body)
    return int(head.split()[1]), body


class HttpsClientTest(env.NetworkTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.server = cls.network.server

    def test_a_trusted_server_answers_with_status_and_exact_body(self):
        body = "{\"name\":\"更新.dat\"}\n".encode("utf-8") + bytes(range(256)) * 100
        self.server.reply("/exact", body)
        self.assertEqual(get(self.network, self.server.url("/exact")), (200, body))
        self.assertNotIn("Cookie", self.server.requests("/exact")[-1].headers)

    def test_error_statuses_come_back_with_their_bodies(self):
        for status in (404, 500):
            with self.subTest(status=status):
                self.server.reply("/error", b"{\"error\":1}", status=status)
                self.assertEqual(get(self.network, self.server.url("/error")), (status, b"{\"error\":1}"))

    def test_the_manifest_host_is_reached_through_the_proxy(self):
        self.server.reply(env.MANIFEST_PATH, b"[]")
        self.assertEqual(get(self.network, env.manifest_origin() + env.MANIFEST_PATH), (200, b"[]"))
        self.assertTrue(any(line.startswith("CONNECT ") for line in self.network.proxy.request_lines()))

    def test_a_certificate_from_an_untrusted_authority_gives_no_response(self):
        with tempfile.TemporaryDirectory() as directory:
            stranger = test_ca.TestAuthority(directory, common_name="Untrusted Test Authority")
            server = https_server.HttpsServer(stranger.server_cert, stranger.server_key)
            try:
                server.reply("/x", b"must not be read")
                self.assertEqual(get(self.network, server.url("/x")), (0, b""))
            finally:
                server.stop()

    def test_no_server_no_answer_or_a_cut_connection_gives_no_response(self):
        with socket.socket() as unused:
            unused.bind(("127.0.0.1", 0))
            closed_port = unused.getsockname()[1]
        self.assertEqual(get(self.network, "https://127.0.0.1:%d/x" % closed_port), (0, b""))
        self.server.reply("/cut", behaviour=https_server.CLOSE)
        self.assertEqual(get(self.network, self.server.url("/cut")), (0, b""))

    def test_the_time_limit_ends_a_request_that_never_completes(self):
        # Without the limit these requests would wait until the server stops (end of the class).
        self.server.reply("/silent", behaviour=https_server.HANG)
        self.assertEqual(get(self.network, self.server.url("/silent"), timeout_ms=2000), (0, b""))
        self.server.reply("/trickle", b"x" * 40, behaviour=https_server.TRICKLE, interval=0.5)
        self.assertEqual(get(self.network, self.server.url("/trickle"), timeout_ms=3000), (0, b""))

    def test_a_slow_answer_within_the_limit_arrives(self):
        self.server.reply("/slow", b"late", delay=2.0)
        self.assertEqual(get(self.network, self.server.url("/slow"), timeout_ms=20000), (200, b"late"))


if __name__ == "__main__":
    unittest.main()
