"""Quiet runs behind a proxy that demands credentials, under Wine: no window and no dialog at any
moment; the manifest's tunnel refused ends the run as unreachable (20) with a log line saying that
the proxy asked for credentials; downloads refused by the proxy fail as any other error answer
(4), with status 407 in their lines. Nothing is installed either way."""

import unittest

from proxy_support import PROXY_ASKED, ProxyTestCase, auth_proxy, run_log
from managed_support import FAILED, UNREACHABLE  # noqa: E402 (on the path once proxy_support is loaded)


class ProxyQuietTest(ProxyTestCase):
    def run_quietly(self, run_dir, *arguments):
        stop_watch = self.start_credential_watch()
        run = self.run_updater(run_dir, *arguments)
        self.assertEqual(stop_watch(), [], "a quiet run showed the credential dialog")
        self.assert_nothing_shown(run)
        return run

    def test_the_manifests_tunnel_refused_is_an_unreachable_manifest(self):
        run_dir = self.make_run_directory()
        entries = self.stale_release(run_dir)
        self.serve_manifest(entries)

        run = self.run_quietly(run_dir, "--quiet")
        self.assert_exit(run, UNREACHABLE)
        lines = self.assert_logged(run, "quiet")
        self.assertTrue([line for line in lines if PROXY_ASKED in line.text],
                        f"no line says that {PROXY_ASKED}:\n{run_log.describe(lines)}")
        self.assert_wholly(entries, "old")
        self.assertEqual([(r.method, r.credentials, r.status) for r in self.proxy.requests()],
                         [("CONNECT", auth_proxy.NONE, 407)])
        self.assertEqual(self.manifest_server.requests(), [])
        self.assertEqual(self.server.requests(), [])

    def test_downloads_refused_by_the_proxy_fail_with_407(self):
        run_dir = self.make_run_directory()
        entries = self.stale_release(run_dir)
        self.hand_off(run_dir, entries)

        run = self.run_quietly(run_dir, "--quiet", "--handoff")
        self.assert_exit(run, FAILED)
        lines = self.assert_logged(run, "quiet")
        for entry in entries:
            self.assert_row_line(lines, entry["path"], 407)
        self.assert_wholly(entries, "old")
        self.assert_no_leftovers(run_dir)
        refused = [r for r in self.proxy.requests() if r.method == "GET"]
        self.assertEqual({r.target for r in refused}, {e["url"] for e in entries})
        self.assertEqual({(r.credentials, r.status) for r in self.proxy.requests()}, {(auth_proxy.NONE, 407)})
        self.assertEqual(self.server.requests(), [])


if __name__ == "__main__":
    unittest.main()
