"""Delta updates against nginx: an older copy of the product is brought to a published release
whose large files it holds in part (a changed file), in whole at another path (a moved file) or
not at all (a new file). nginx's log of every request's Range header, status and body bytes shows
what each file cost: the changed file only parts of its chunk index and pack in multi-range
requests, far fewer bytes than the file; the moved file no pack bytes; the new file its index and
its whole pack; the small file the whole file. A copy that holds no chunk at all takes every large
file as its whole index and its whole pack. Every file ends byte for byte the release's."""

import unittest

from delta_support import CHANGED, KIB, MOVED, NEW, NOTES, RELEASE, SMALL_ONLY, SOURCE, DeltaTestCase


class DeltaOverNginxTest(DeltaTestCase):
    NGINX = True

    def test_stale_files_are_built_from_held_chunks_and_ranges_of_their_packs(self):
        entries, routes = self.publish()
        self.site.serve_tree(self.tree)
        self.site.trust(self.wine)
        run_dir = self.older_copy()
        self.run_update(run_dir, screenshot="e2e-delta.png")
        self.check_installed(run_dir)

        served = [request for request in self.site.files.range_requests() if request.path.startswith("/files/")]
        report = "\n".join(map(str, served))

        def requests_of(path, suffix=""):
            return [request for request in served if request.path == routes[path] + suffix]

        # Nothing but the stale files' own routes, their indexes and packs.
        stale_routes = {routes[path] + suffix for path in (CHANGED, SOURCE, MOVED, NEW) for suffix in (".vmdi", ".vmdp")}
        self.assertLessEqual({request.path for request in served}, stale_routes | {routes[NOTES]}, report)

        # The small file: whole, once.
        self.assertEqual([(r.status, r.range, r.bytes) for r in requests_of(NOTES)],
                         [(200, None, len(RELEASE[NOTES]))], report)

        # The changed file: never whole; parts of its index and pack, by range requests answered
        # with 206, the pack's in few requests of many ranges each.
        changed = requests_of(CHANGED, ".vmdi") + requests_of(CHANGED, ".vmdp")
        self.assertEqual(requests_of(CHANGED), [], report)
        self.assertTrue(changed, report)
        self.assertEqual({(r.status, r.range is not None) for r in changed}, {(206, True)}, report)
        head_size = entries[CHANGED]["delta"]["headSize"]
        self.assertEqual(requests_of(CHANGED, ".vmdi")[0].range, f"bytes=0-{head_size - 1}", report)
        self.assertLessEqual(len(requests_of(CHANGED, ".vmdi")), 1 + 3, report)
        pack = requests_of(CHANGED, ".vmdp")
        self.assertTrue(1 <= len(pack) <= 5, report)
        self.assertGreater(max(r.range.count(",") + 1 for r in pack), 16, report)
        sent = sum(r.bytes for r in changed)
        print(f"{CHANGED}: {sent} bytes in {len(changed)} requests for a file of {len(RELEASE[CHANGED])} bytes")
        self.assertLess(sent, len(RELEASE[CHANGED]) // 4, report)

        # The file with one small edit: parts of its index and pack too.
        source = requests_of(SOURCE, ".vmdi") + requests_of(SOURCE, ".vmdp")
        self.assertEqual(requests_of(SOURCE), [], report)
        self.assertEqual({(r.status, r.range is not None) for r in source}, {(206, True)}, report)
        self.assertLess(sum(r.bytes for r in source), len(RELEASE[SOURCE]) // 4, report)

        # The moved file: its index's head, and nothing else; its chunks are copied from SOURCE.
        head_size = entries[MOVED]["delta"]["headSize"]
        self.assertEqual([(r.path, r.status, r.range, r.bytes) for r in served if r.path.startswith(routes[MOVED])],
                         [(routes[MOVED] + ".vmdi", 206, f"bytes=0-{head_size - 1}", head_size)], report)

        # The new file: its whole pack by one plain GET, and its index once, in one plain GET or
        # (the copy holds chunks of other files, so the head comes first) its head and then the rest.
        delta = entries[NEW]["delta"]
        self.assertEqual(requests_of(NEW), [], report)
        self.assertEqual([(r.status, r.range, r.bytes) for r in requests_of(NEW, ".vmdp")],
                         [(200, None, delta["packSize"])], report)
        self.assertIn([(r.status, r.range, r.bytes) for r in requests_of(NEW, ".vmdi")],
                      ([(200, None, delta["indexSize"])],
                       [(206, f"bytes=0-{delta['headSize'] - 1}", delta["headSize"]),
                        (206, f"bytes={delta['headSize']}-{delta['indexSize'] - 1}",
                         delta["indexSize"] - delta["headSize"])]), report)

        # A copy that holds no chunk: each large file is its whole index and its whole pack, each
        # by one plain GET (the pack's compressed bytes: less than the file), never the file itself.
        logged = len(self.site.files.range_requests())
        run_dir = self.older_copy(SMALL_ONLY)
        self.run_update(run_dir, SMALL_ONLY)
        self.check_installed(run_dir, SMALL_ONLY)
        served = [request for request in self.site.files.range_requests()[logged:] if request.path.startswith("/files/")]
        report = "\n".join(map(str, served))
        large = sorted(path for path, data in RELEASE.items() if len(data) >= 64 * KIB)
        expected = [(routes[path] + suffix, 200, None, entries[path]["delta"][size])
                    for path in large for suffix, size in ((".vmdi", "indexSize"), (".vmdp", "packSize"))]
        expected.append((routes[NOTES], 200, None, len(RELEASE[NOTES])))
        self.assertEqual(sorted((r.path, r.status, r.range, r.bytes) for r in served), sorted(expected), report)
        for path in large:
            self.assertLess(entries[path]["delta"]["packSize"], len(RELEASE[path]) // 2, path)


if __name__ == "__main__":
    unittest.main()
