"""What the tests' HTTP servers share (python standard library only): a threading server on a free
port of 127.0.0.1, an answer set up per path, every request recorded, and a serving thread that
stop() ends. The servers differ in their request handlers and in what an answer can do."""

import http.server
import threading


class QuietThreadingServer(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # a client that gives up (or rejects a certificate) is part of the tests


class RouteServer:
    """Serves with `handler` until stop(); the handler reaches this object as `self.server.owner`.

    `not_found()` makes the answer for a path that was not set up; `wrap_socket(socket)`, when
    given, replaces the listening socket (TLS)."""

    scheme = "http"

    def __init__(self, handler, not_found, host="127.0.0.1", wrap_socket=None):
        self._routes = {}
        self._requests = []
        self._lock = threading.Lock()
        self._stopping = threading.Event()
        self._not_found = not_found
        self._server = QuietThreadingServer((host, 0), handler)
        self._server.owner = self
        if wrap_socket is not None:
            self._server.socket = wrap_socket(self._server.socket)
        self.host = host
        self.port = self._server.server_address[1]
        self._thread = threading.Thread(target=self._server.serve_forever, kwargs={"poll_interval": 0.1},
                                        daemon=True)
        self._thread.start()

    def url(self, path):
        return "%s://%s:%d%s" % (self.scheme, self.host, self.port, path)

    def requests(self, path=None):
        with self._lock:
            return [r for r in self._requests if path is None or r.path == path]

    def stop(self):
        self._stopping.set()
        self._server.shutdown()
        self._server.server_close()
        self._thread.join(timeout=10)

    def _set_route(self, path, answer):
        with self._lock:
            self._routes[path] = answer

    def _route_for(self, path):
        with self._lock:
            return self._routes.get(path) or self._not_found()

    def _record(self, request):
        with self._lock:
            self._requests.append(request)
