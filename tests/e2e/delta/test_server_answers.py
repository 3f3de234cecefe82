"""Delta updates against servers that do not answer ranges as nginx does, each serving the same
published tree from the tests' file server: one that answers a request for several ranges with
200 and the whole body, one that answers it with 416, one that answers any Range with 416, and one
whose packs are damaged. The updater asks again with 16 ranges, then one range per request, where
that helps, and fetches the whole file from its url where it does not; every update ends with the
release's files and the success notice."""

import os
import unittest

from delta_support import CHANGED, DELTA_FILES, MOVED, NEW, NOTES, SOURCE, DeltaTestCase
import file_server  # noqa: E402 (delta_support puts the servers on the path)


def range_count(request):
    value = request.header("Range")
    return 0 if value is None else value.count(",") + 1


def damaged(pack):
    """The pack with every 97th byte flipped: no stored chunk inflates to its identity."""
    data = bytearray(pack)
    for offset in range(40, len(data), 97):
        data[offset] ^= 0xFF
    return bytes(data)


class DeltaServerAnswersTest(DeltaTestCase):

    def serve(self, mode, damage_packs=False):
        """Serves every file of the published tree with `mode` (file_server.BYTE_RANGES, ...)."""
        for root, _, names in os.walk(self.tree):
            for name in names:
                path = os.path.join(root, name)
                with open(path, "rb") as source:
                    body = source.read()
                if damage_packs and name.endswith(".vmdp"):
                    body = damaged(body)
                route = "/" + os.path.relpath(path, self.tree).replace(os.sep, "/")
                self.site.files.serve(route, body, byte_ranges=mode)

    def update(self, mode, damage_packs=False):
        """Updates a fresh copy of OLDER from the tree served with `mode`; returns the requests the
        update made, by route."""
        self.serve(mode, damage_packs)
        before = len(self.site.files.requests())
        run_dir = self.older_copy()
        self.run_update(run_dir)
        self.check_installed(run_dir)
        by_route = {}
        for request in self.site.files.requests()[before:]:
            by_route.setdefault(request.path, []).append(request)
        # Nothing but the stale files, their indexes and packs.
        stale = {self.routes[path] + suffix for path in DELTA_FILES for suffix in ("", ".vmdi", ".vmdp")}
        self.assertLessEqual(set(by_route), stale | {self.routes[NOTES]}, sorted(by_route))
        return by_route

    def test_servers_that_refuse_ranges_or_damage_packs_still_end_in_the_release(self):
        _, routes = self.publish()
        self.routes = routes
        self.site.serve_tree(self.tree)  # the manifest at the updater's address
        self.site.trust(self.wine)

        def described(requests):
            return "\n".join(f"{r.path} {r.header('Range')} -> {r.status}" for rs in requests.values() for r in rs)

        for mode, refused in ((file_server.MULTI_WHOLE, 200), (file_server.MULTI_416, 416)):
            with self.subTest(mode):
                requests = self.update(mode)
                report = described(requests)
                # No file fetched whole but the small one: refused multi-range requests were asked
                # again, with 16 ranges, then one range each.
                self.assertEqual(sorted(p for p in requests if not p.endswith((".vmdi", ".vmdp"))), [routes[NOTES]], report)
                for route, made in requests.items():
                    for request in made:
                        expected = refused if range_count(request) > 1 else 206 if range_count(request) else 200
                        self.assertEqual(request.status, expected, report)
                pack = requests[routes[CHANGED] + ".vmdp"]
                counts = [range_count(r) for r in pack]
                self.assertGreater(counts[0], 16, report)
                self.assertEqual(counts[1], 16, report)
                self.assertEqual(set(counts[2:]), {1}, report)
                # The single ranges ask for the same bytes as the first request did.
                singles = ",".join(r.header("Range")[len("bytes="):] for r in pack[2:])
                self.assertEqual("bytes=" + singles, pack[0].header("Range"), report)
                # The moved file needs no pack; the new file takes its pack whole, without Range.
                self.assertNotIn(routes[MOVED] + ".vmdp", requests, report)
                self.assertEqual([(r.header("Range"), r.status) for r in requests[routes[NEW] + ".vmdp"]],
                                 [(None, 200)], report)

        with self.subTest(file_server.RANGE_416):
            requests = self.update(file_server.RANGE_416)
            report = described(requests)
            # Each large file: its index refused once, then the file whole from its url.
            for path in DELTA_FILES:
                index = requests.get(routes[path] + ".vmdi", [])
                self.assertEqual([r.status for r in index], [416], report)
                self.assertNotIn(routes[path] + ".vmdp", requests, report)
                self.assertEqual([(r.header("Range"), r.status) for r in requests[routes[path]]], [(None, 200)], report)

        with self.subTest("damaged packs"):
            requests = self.update(file_server.BYTE_RANGES, damage_packs=True)
            report = described(requests)
            # The files that need pack bytes get a damaged chunk, and then come whole; the moved
            # file, built from held chunks alone, does not.
            for path in (CHANGED, SOURCE, NEW):
                self.assertTrue(requests.get(routes[path] + ".vmdp"), report)
                self.assertEqual([(r.header("Range"), r.status) for r in requests[routes[path]]], [(None, 200)], report)
            self.assertNotIn(routes[MOVED], requests, report)
            self.assertNotIn(routes[MOVED] + ".vmdp", requests, report)


if __name__ == "__main__":
    unittest.main()
