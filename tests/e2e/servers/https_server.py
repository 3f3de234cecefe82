"""A local HTTPS server for the end-to-end tests (python standard library only).

It listens on 127.0.0.1 on a free port, with a certificate of the run's own test authority, and
answers each path the way a test set it up: a body with a status, after a delay, trickled slowly, or
not at all (the connection is held open, or closed without a word). Paths that were not set up
answer 404. Every request is recorded, so tests can check what the program sent.

    server = HttpsServer(authority.server_cert, authority.server_key)
    server.reply("/download/2099/pro/up.txt", manifest_bytes)
    server.reply("/broken", b"oops", status=500)
    server.reply("/silent", behaviour=HANG)
    ...
    server.stop()
"""

import http.server
import ssl
import time

from route_server import RouteServer

NORMAL = "normal"    # status line, headers with Content-Length, the body
HANG = "hang"        # reads the request and never answers, until the server stops
CLOSE = "close"      # reads the request and closes the connection without answering
TRICKLE = "trickle"  # headers at once, then the body one byte per `interval` seconds


class Reply:
    def __init__(self, body=b"", status=200, delay=0.0, behaviour=NORMAL, interval=0.5,
                 content_type="text/plain; charset=utf-8"):
        self.body = body
        self.status = status
        self.delay = delay
        self.behaviour = behaviour
        self.interval = interval
        self.content_type = content_type


class RecordedRequest:
    def __init__(self, method, path, headers):
        self.method = method
        self.path = path
        self.headers = headers


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):  # quiet: the tests report what matters
        pass

    def do_GET(self):
        server = self.server.owner
        server._record(RecordedRequest("GET", self.path, dict(self.headers.items())))
        reply = server._reply_for(self.path)
        if reply.delay and server._stopping.wait(reply.delay):
            return
        if reply.behaviour == HANG:
            server._stopping.wait()
            self.close_connection = True
            return
        if reply.behaviour == CLOSE:
            self.close_connection = True
            return
        self.send_response(reply.status)
        self.send_header("Content-Type", reply.content_type)
        self.send_header("Content-Length", str(len(reply.body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        if reply.behaviour == TRICKLE:
            for index in range(len(reply.body)):
                if server._stopping.wait(reply.interval):
                    return
                self.wfile.write(reply.body[index:index + 1])
                self.wfile.flush()
        else:
            self.wfile.write(reply.body)


class HttpsServer(RouteServer):
    """Serves on https://127.0.0.1:<port> until stop(). `url(path)` gives the full address."""

    scheme = "https"

    def __init__(self, certificate, key, host="127.0.0.1"):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(certificate, key)
        super().__init__(_Handler, lambda: Reply(b"not found", status=404), host,
                         wrap_socket=lambda sock: context.wrap_socket(sock, server_side=True,
                                                                      do_handshake_on_connect=False))

    def reply(self, path, body=b"", **options):
        """Sets up the answer for `path` (see Reply for the options); replaces an earlier one."""
        self._set_route(path, Reply(body, **options))

    def _reply_for(self, path):
        return self._route_for(path)


def wait_until(predicate, timeout, step=0.1):
    """True as soon as predicate() is; False when `timeout` seconds pass first."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(step)
    return bool(predicate())
