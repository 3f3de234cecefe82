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
import threading
import time

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


class _ThreadingServer(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # a client that gives up (or rejects the certificate) is part of the tests


class HttpsServer:
    """Serves on https://127.0.0.1:<port> until stop(). `url(path)` gives the full address."""

    def __init__(self, certificate, key, host="127.0.0.1"):
        self._routes = {}
        self._requests = []
        self._lock = threading.Lock()
        self._stopping = threading.Event()
        self._server = _ThreadingServer((host, 0), _Handler)
        self._server.owner = self
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(certificate, key)
        self._server.socket = context.wrap_socket(self._server.socket, server_side=True,
                                                  do_handshake_on_connect=False)
        self.host = host
        self.port = self._server.server_address[1]
        self._thread = threading.Thread(target=self._server.serve_forever, kwargs={"poll_interval": 0.1},
                                        daemon=True)
        self._thread.start()

    def url(self, path):
        return "https://%s:%d%s" % (self.host, self.port, path)

    def reply(self, path, body=b"", **options):
        """Sets up the answer for `path` (see Reply for the options); replaces an earlier one."""
        with self._lock:
            self._routes[path] = Reply(body, **options)

    def requests(self, path=None):
        with self._lock:
            return [r for r in self._requests if path is None or r.path == path]

    def stop(self):
        self._stopping.set()
        self._server.shutdown()
        self._server.server_close()
        self._thread.join(timeout=10)

    def _reply_for(self, path):
        with self._lock:
            return self._routes.get(path) or Reply(b"not found", status=404)

    def _record(self, request):
        with self._lock:
            self._requests.append(request)


def wait_until(predicate, timeout, step=0.1):
    """True as soon as predicate() is; False when `timeout` seconds pass first."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(step)
    return bool(predicate())
