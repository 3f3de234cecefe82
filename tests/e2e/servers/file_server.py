"""A local plain-HTTP file server for the download tests and benchmarks (python standard library only).

It listens on 127.0.0.1 on a free port and answers each path the way a test set it up: the file
(with or without Range support), an error status, a body cut short, one longer than announced, one
without a length, a gzip-compressed one, one dripped slowly, one that stalls, no answer at all, or
a large generated body streamed without being held in memory. Paths that were not set up answer
404. Every request is recorded with its header block exactly as it came off the socket.

Like every ordinary static server, it looks up the request's path decoded: the part before "?",
percent-decoded as UTF-8. So a path is set up as the file's own name ("/files/说明 1.txt") and
asked for in its encoded form (url(quote(path)): ".../files/%E8%AF%B4%E6%98%8E%201.txt"); a path
that does not decode (a "%" without two hex digits, bytes that are not UTF-8, an encoded NUL)
answers 400.

    server = FileServer()
    server.serve("/a.bin", data)                              # 206 for "Range: bytes=N-"
    server.serve("/whole.bin", data, ranges=False)            # Range ignored: 200, all of it
    server.serve("/missing", b"no such file", status=404)
    server.serve("/cut", data, behaviour=DROP, cut=1000)
    server.serve("/half", data, drop_at=len(data) // 2)       # every transfer ends at that byte
    server.serve("/big", Pattern(1 << 30))                    # 1 GiB generated on the fly
    server.serve("/pack", data, byte_ranges=BYTE_RANGES)      # any ranges; several: multipart/byteranges
    server.serve("/pack", data, byte_ranges=MULTI_WHOLE)      # one range: 206; several: 200, all of it
    server.requests("/a.bin")[-1].raw                         # b"GET /a.bin HTTP/1.1\\r\\n...\\r\\n\\r\\n"
    server.requests("/a.bin")[-1].status                      # the status it was answered with
    server.sent("/a.bin")                                     # body bytes sent for that path so far
    server.stop()
"""

import gzip
import http.server
import re
import select
import socket
import urllib.parse

from route_server import RouteServer

NORMAL = "normal"        # Content-Length and the body (the part asked for, when ranges are on)
DROP = "drop"            # announces the whole length, sends `cut` bytes, closes
OVERSIZED = "oversized"  # announces the body's length, sends the body and then `extra`
NO_LENGTH = "no-length"  # no Content-Length: chunked (chunked=True) or ended by closing
GZIP = "gzip"            # Content-Encoding: gzip and the gzipped body, whatever the request accepts
DRIP = "drip"            # `step` bytes every `interval` seconds (the part asked for, when ranges are on)
STALL = "stall"          # headers and `cut` bytes, then nothing until the client leaves or stop()
SILENT = "silent"        # reads the request and answers nothing until the client leaves or stop()

# How a route with `byte_ranges` answers a Range header of any form ("bytes=0-99,200-,-50"): each
# answers a request without Range with 200 and the whole body, a Range it cannot parse as if it
# were absent, and one whose ranges all lie past the end with 416.
BYTE_RANGES = "byte-ranges"  # one range: 206 with Content-Range; several: 206 multipart/byteranges
MULTI_WHOLE = "multi-whole"  # one range as BYTE_RANGES; several: 200 and the whole body
MULTI_416 = "multi-416"      # one range as BYTE_RANGES; several: 416
RANGE_416 = "range-416"      # any Range header: 416

MULTIPART_BOUNDARY = "00000000000000000042"

_PIECE = 64 * 1024
_RANGE = re.compile(r"^\s*bytes\s*=\s*(\d+)\s*-\s*$")
_BAD_ESCAPE = re.compile(r"%(?![0-9A-Fa-f]{2})")


def parse_byte_ranges(value, length):
    """The ranges a "Range" header value asks for in a body of `length` bytes, as (first, last)
    pairs in the order asked, those past the end left out and the last byte clipped to the end;
    None when the value is not a byte range set (RFC 9110 14.1.1)."""
    unit, _, range_set = (value or "").partition("=")
    if unit.strip().lower() != "bytes" or not range_set.strip():
        return None
    ranges = []
    for item in range_set.split(","):
        first, dash, last = item.strip().partition("-")
        if not dash or not (first.isdigit() or (not first and last.isdigit())) or (last and not last.isdigit()):
            return None
        if not first:  # the last `last` bytes
            if int(last) > 0 and length > 0:
                ranges.append((max(length - int(last), 0), length - 1))
            continue
        if last and int(last) < int(first):
            return None
        if int(first) < length:
            ranges.append((int(first), min(int(last), length - 1) if last else length - 1))
    return ranges


def multipart_byteranges(body, ranges, content_type="application/octet-stream"):
    """The multipart/byteranges body (as nginx frames it) of `ranges` ((first, last) pairs) of `body`."""
    parts = []
    for first, last in ranges:
        data = body.bytes(first, last + 1) if isinstance(body, Pattern) else bytes(body[first:last + 1])
        parts.append(b"\r\n--%s\r\nContent-Type: %s\r\nContent-Range: bytes %d-%d/%d\r\n\r\n"
                     % (MULTIPART_BOUNDARY.encode(), content_type.encode(), first, last, len(body)) + data)
    return b"".join(parts) + b"\r\n--%s--\r\n" % MULTIPART_BOUNDARY.encode()


def decoded_path(target):
    """The path a static server looks up for the request target `target`: the part before "?" or
    "#", percent-decoded as UTF-8. None when it does not decode."""
    path = re.split(r"[?#]", target, maxsplit=1)[0]
    if _BAD_ESCAPE.search(path):
        return None
    try:
        decoded = urllib.parse.unquote(path, encoding="utf-8", errors="strict")
    except UnicodeDecodeError:
        return None
    return None if "\0" in decoded else decoded


class Pattern:
    """A body of `size` bytes generated on the fly: byte i is PATTERN[i % len(PATTERN)]. The pattern's
    length, 251, is prime, so a piece written at a wrong offset does not match by accident."""

    PATTERN = bytes((i * 7 + 3) % 256 for i in range(251))
    _BLOCK = PATTERN * (_PIECE // len(PATTERN) + 2)

    def __init__(self, size):
        self.size = size

    def __len__(self):
        return self.size

    def slice(self, start, stop):
        """The bytes [start, stop) (stop clipped to the size); at most about 64 KiB per call."""
        stop = min(stop, self.size, start + _PIECE)
        offset = start % len(self.PATTERN)
        return self._BLOCK[offset:offset + max(stop - start, 0)]

    def bytes(self, start=0, stop=None):
        """The bytes [start, stop) as one object, for comparing with a downloaded file."""
        stop = self.size if stop is None else min(stop, self.size)
        return b"".join(self.slice(p, stop) for p in range(start, stop, _PIECE))


class Route:
    def __init__(self, body, status=200, behaviour=NORMAL, ranges=True, cut=0, extra=b"", chunked=False,
                 step=1024, interval=0.5, content_type="application/octet-stream", drop_at=None, drops=None,
                 byte_ranges=None):
        self.body = body
        # One of BYTE_RANGES, MULTI_WHOLE, MULTI_416, RANGE_416: how a normal answer of status 200
        # treats Range headers of any form (then `ranges` plays no part); None: as `ranges` says.
        self.byte_ranges = byte_ranges
        # With a normal answer: the connection is closed when the body reaches the file's byte
        # `drop_at` (an offset in the file, whatever range was asked for), the length announced as
        # usual; a transfer that starts there sends nothing. With `drops`, only that many transfers
        # are dropped, the later ones sent whole.
        self.drop_at = drop_at
        self.drops = drops
        self.status = status
        self.behaviour = behaviour
        self.ranges = ranges
        self.cut = cut
        self.extra = extra
        self.chunked = chunked
        self.step = step
        self.interval = interval
        self.content_type = content_type


class RecordedRequest:
    def __init__(self, method, path, headers, raw, target=None):
        self.method = method
        self.path = path        # decoded (the request target as sent when it does not decode)
        self.target = path if target is None else target  # the request target as sent
        self.status = None      # the status it was answered with, once the answer has begun
        self.headers = headers  # [(name, value), ...] in the order received
        self.raw = raw          # the request line and header block as received, blank line included

    def header(self, name):
        """The first value of header `name` (any case), or None."""
        return next((v for n, v in self.headers if n.lower() == name.lower()), None)


class _RecordingReader:
    """Reads from the socket's file for the parser and keeps a copy of every byte handed out."""

    def __init__(self, stream):
        self._stream = stream
        self.recorded = bytearray()

    def readline(self, limit=-1):
        line = self._stream.readline(limit)
        self.recorded += line
        return line

    def read(self, size=-1):
        return self._stream.read(size)

    def close(self):
        self._stream.close()


def _slice(body, start, stop):
    if isinstance(body, Pattern):
        return body.slice(start, stop)
    return body[start:min(stop, start + _PIECE)]


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):  # quiet: the tests report what matters
        pass

    def setup(self):
        super().setup()
        self.rfile = _RecordingReader(self.rfile)

    def handle_one_request(self):
        self.rfile.recorded = bytearray()
        super().handle_one_request()

    def do_GET(self):
        server = self.server.owner
        self.served_path = decoded_path(self.path)
        recorded = RecordedRequest(self.command, self.served_path or self.path, list(self.headers.items()),
                                   bytes(self.rfile.recorded), self.path)
        server._record(recorded)
        if self.served_path is None:
            route = Route(b"bad request: the path does not decode", status=400)
        else:
            route = server._route_for(self.served_path)
        self.close_connection = True
        if route.behaviour == SILENT:
            self._wait_for_client_to_leave(server)
            return
        body, length, start = route.body, len(route.body), 0
        headers = [("Content-Type", route.content_type), ("Connection", "close")]
        status = route.status
        if route.byte_ranges is not None and status == 200 and route.behaviour == NORMAL:
            status, body, start, length, answer_headers = self._byte_ranges_answer(route)
            headers = answer_headers + [("Connection", "close")]
        elif route.ranges and status == 200 and route.behaviour in (NORMAL, DRIP):
            headers.append(("Accept-Ranges", "bytes"))
            match = _RANGE.match(self.headers.get("Range", "") or "")
            if match and int(match.group(1)) >= length:
                status, body, length = 416, b"", 0
                headers.append(("Content-Range", "bytes */%d" % len(route.body)))
            elif match:
                start = int(match.group(1))
                status, length = 206, length - start
                headers.append(("Content-Range", "bytes %d-%d/%d" % (start, len(route.body) - 1, len(route.body))))
        if route.behaviour == GZIP:
            body = gzip.compress(bytes(body) if not isinstance(body, Pattern) else body.bytes())
            length = len(body)
            headers.append(("Content-Encoding", "gzip"))
        if route.behaviour == NO_LENGTH and route.chunked:
            headers.append(("Transfer-Encoding", "chunked"))
        elif route.behaviour != NO_LENGTH:
            headers.append(("Content-Length", str(length)))

        recorded.status = status
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        try:
            self._send_body(server, route, body, start, start + length)
        except OSError:
            pass  # the client went away: part of the tests

    def _byte_ranges_answer(self, route):
        """(status, body, start, length, headers) of a normal answer of a route with `byte_ranges`:
        the body's bytes [start, start + length) are sent, after `headers` (Content-Type among them)."""
        size = len(route.body)
        whole = (200, route.body, 0, size, [("Content-Type", route.content_type), ("Accept-Ranges", "bytes")])
        value = self.headers.get("Range")
        if value is None:
            return whole
        refused = (416, b"", 0, 0, [("Content-Type", route.content_type), ("Content-Range", "bytes */%d" % size)])
        if route.byte_ranges == RANGE_416:
            return refused
        ranges = parse_byte_ranges(value, size)
        if ranges is None:
            return whole
        if not ranges:
            return refused
        if len(ranges) == 1:
            first, last = ranges[0]
            return (206, route.body, first, last + 1 - first,
                    [("Content-Type", route.content_type), ("Accept-Ranges", "bytes"),
                     ("Content-Range", "bytes %d-%d/%d" % (first, last, size))])
        if route.byte_ranges == MULTI_WHOLE:
            return whole
        if route.byte_ranges == MULTI_416:
            return refused
        body = multipart_byteranges(route.body, ranges, route.content_type)
        return 206, body, 0, len(body), [("Content-Type", "multipart/byteranges; boundary=" + MULTIPART_BOUNDARY)]

    def _send_body(self, server, route, body, start, stop):
        if route.behaviour in (DROP, STALL):
            stop = min(stop, start + route.cut)
        if route.drop_at is not None and route.drops != 0:
            stop = min(stop, max(route.drop_at, start))
            if route.drops is not None:
                route.drops -= 1
        position = start
        piece = route.step if route.behaviour == DRIP else _PIECE
        while position < stop:
            data = _slice(body, position, min(stop, position + piece))
            if route.behaviour == NO_LENGTH and route.chunked:
                self.wfile.write(b"%x\r\n%s\r\n" % (len(data), data))
            else:
                self.wfile.write(data)
            server._count_sent(self.served_path or self.path, len(data))
            position += len(data)
            if route.behaviour == DRIP:
                self.wfile.flush()
                if server._stopping.wait(route.interval):
                    return
        if route.behaviour == NO_LENGTH and route.chunked:
            self.wfile.write(b"0\r\n\r\n")
        elif route.behaviour == OVERSIZED:
            self.wfile.write(route.extra)
        self.wfile.flush()
        if route.behaviour == STALL:
            self._wait_for_client_to_leave(server)

    def _wait_for_client_to_leave(self, server):
        while not server._stopping.wait(0.2):
            readable, _, _ = select.select([self.connection], [], [], 0)
            if readable and not self.connection.recv(1, socket.MSG_PEEK):
                return


class FileServer(RouteServer):
    """Serves on http://127.0.0.1:<port> until stop(). `url(path)` gives the full address."""

    def __init__(self, host="127.0.0.1"):
        super().__init__(_Handler, lambda: Route(b"not found", status=404), host)
        self._sent = {}

    def sent(self, path=None):
        """Body bytes handed to the socket so far for `path` (every path: None)."""
        with self._lock:
            return sum(n for p, n in self._sent.items() if path is None or p == path)

    def _count_sent(self, path, count):
        with self._lock:
            self._sent[path] = self._sent.get(path, 0) + count

    def serve(self, path, body=b"", **options):
        """Sets up the answer for `path` (decoded: "/files/说明.txt"): `body` is bytes or a Pattern;
        see Route for the options."""
        self._set_route(path, Route(body, **options))


if __name__ == "__main__":  # a server for trying things by hand: a 1 GiB pattern at /big
    import sys
    import time
    demo = FileServer()
    demo.serve("/big", Pattern(1 << 30))
    print(demo.url("/big"), flush=True)
    try:
        time.sleep(float(sys.argv[1]) if len(sys.argv) > 1 else 3600)
    finally:
        demo.stop()
