"""A local HTTP proxy that demands Basic credentials, for the proxy tests (standard library only).

It listens on 127.0.0.1 on a free port, to be named as the Wine prefix's system proxy. Every request
without the right `Proxy-Authorization: Basic ...` header is answered 407 with
`Proxy-Authenticate: Basic realm="<realm>"` (and a short page), on a connection that stays open, as
proxies keep it for the client's next try. With the right credentials:

- CONNECT host:port opens a tunnel to the tests' HTTPS server (whatever host it names), so the
  program's TLS session and certificate check run end to end;
- GET http://127.0.0.1:port/path (absolute form) is passed on to that port of 127.0.0.1 as
  GET /path, and the answer sent back with `Connection: close`; other hosts get 502.

Every request is recorded (method, target, what its credentials were and the status it got), so a
test can count the 407s and see that later requests carried the credentials. Nothing is logged.

    proxy = AuthProxy("127.0.0.1", https_port, user="代理", password="s3cret")
    proxy.server_setting                 # "127.0.0.1:<port>", for ProxyServer in the registry
    proxy.requests()                     # [Request(method, target, credentials, status), ...]
    proxy.stop()
"""

import base64
import socketserver
import threading
import urllib.parse

from tunnel_proxy import _connect, _relay  # the same connecting and relaying as the tunnel

# What a request's credentials were.
NONE = "none"    # no Proxy-Authorization header
WRONG = "wrong"  # a header, but not the right user and password
RIGHT = "right"


class Request:
    def __init__(self, method, target, credentials, status):
        self.method = method
        self.target = target
        self.credentials = credentials
        self.status = status

    def __repr__(self):
        return f"{self.method} {self.target} ({self.credentials} credentials) -> {self.status}"


def _read_head(connection, data=b""):
    """The request head up to its blank line and what followed it; None when the client left."""
    while b"\r\n\r\n" not in data:
        try:
            chunk = connection.recv(4096)
        except OSError:
            return None
        if not chunk or len(data) > 65536:
            return None
        data += chunk
    head, _, rest = data.partition(b"\r\n\r\n")
    return head, rest


def _header(lines, name):
    wanted = name.lower().encode("latin-1")
    for line in lines:
        key, _, value = line.partition(b":")
        if key.strip().lower() == wanted:
            return value.strip()
    return None


def _without_connection_headers(head):
    """An answer's head without its Connection, Keep-Alive and Proxy-Connection headers, plus
    `Connection: close`."""
    lines = head.split(b"\r\n")
    kept = [lines[0]] + [line for line in lines[1:]
                         if line.partition(b":")[0].strip().lower() not in (b"connection", b"keep-alive",
                                                                             b"proxy-connection")]
    return b"\r\n".join(kept + [b"Connection: close", b"Proxy-Connection: close"]) + b"\r\n\r\n"


class _Handler(socketserver.BaseRequestHandler):
    def handle(self):
        proxy = self.server.owner
        client = self.request
        client.settimeout(30)
        pending = b""
        while not proxy.stopping.is_set():
            read = _read_head(client, pending)
            if read is None:
                return
            head, pending = read
            lines = head.split(b"\r\n")
            parts = lines[0].split(b" ")
            if len(parts) != 3:
                return
            method, target, version = parts
            credentials = proxy._judge(_header(lines[1:], "Proxy-Authorization"))
            if credentials != RIGHT:
                proxy._record(method, target, credentials, 407)
                page = b"<html><body>407 Proxy Authentication Required</body></html>"
                client.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                               b"Proxy-Authenticate: Basic realm=\"" + proxy.realm.encode("latin-1") + b"\"\r\n"
                               b"Content-Type: text/html\r\n"
                               b"Content-Length: " + str(len(page)).encode() + b"\r\n\r\n" + page)
                # A request's body (none is expected) would follow its head; the next head may.
                continue
            if method == b"CONNECT":
                upstream = _connect(proxy.tunnel_host, proxy.tunnel_port)
                if upstream is None:
                    proxy._record(method, target, credentials, 502)
                    client.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
                    return
                proxy._record(method, target, credentials, 200)
                client.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
                if pending:
                    upstream.sendall(pending)
                _relay(client, upstream, proxy.stopping)
                return
            self._forward(proxy, client, method, target, version, lines, pending, credentials)
            return

    def _forward(self, proxy, client, method, target, version, lines, pending, credentials):
        address = urllib.parse.urlsplit(target.decode("latin-1"))
        upstream = None
        if address.scheme == "http" and address.hostname == "127.0.0.1":
            upstream = _connect("127.0.0.1", address.port or 80)
        if upstream is None:
            proxy._record(method, target, credentials, 502)
            client.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
            return
        path = (address.path or "/") + ("?" + address.query if address.query else "")
        headers = [line for line in lines[1:]
                   if line.partition(b":")[0].strip().lower() not in (b"proxy-authorization", b"proxy-connection",
                                                                       b"connection", b"keep-alive")]
        request = b"\r\n".join([b" ".join((method, path.encode("latin-1"), version))] + headers +
                               [b"Connection: close"]) + b"\r\n\r\n"
        try:
            upstream.sendall(request + pending)
            answer = _read_head(upstream)
            if answer is None:
                proxy._record(method, target, credentials, 502)
                return
            head, rest = answer
            status = int(head.split(b" ", 2)[1])
            proxy._record(method, target, credentials, status)
            client.sendall(_without_connection_headers(head) + rest)
        except (OSError, ValueError, IndexError):
            upstream.close()
            return
        _relay(client, upstream, proxy.stopping)


class _Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        pass


class AuthProxy:
    """Listens on 127.0.0.1:<port>; `server_setting` is the value for the system's ProxyServer."""

    def __init__(self, tunnel_host, tunnel_port, user, password, realm="Velmora test proxy"):
        self.tunnel_host = tunnel_host
        self.tunnel_port = tunnel_port
        self.realm = realm
        self._expected = b"Basic " + base64.b64encode(f"{user}:{password}".encode("utf-8"))
        self.stopping = threading.Event()
        self._requests = []
        self._lock = threading.Lock()
        self._server = _Server(("127.0.0.1", 0), _Handler)
        self._server.owner = self
        self.port = self._server.server_address[1]
        self.server_setting = "127.0.0.1:%d" % self.port
        self._thread = threading.Thread(target=self._server.serve_forever, kwargs={"poll_interval": 0.1},
                                        daemon=True)
        self._thread.start()

    def requests(self):
        with self._lock:
            return list(self._requests)

    def stop(self):
        self.stopping.set()
        self._server.shutdown()
        self._server.server_close()
        self._thread.join(timeout=10)

    def _judge(self, header):
        if header is None:
            return NONE
        scheme, _, token = header.partition(b" ")
        return RIGHT if scheme.lower() == b"basic" and b"Basic " + token.strip() == self._expected else WRONG

    def _record(self, method, target, credentials, status):
        with self._lock:
            self._requests.append(Request(method.decode("latin-1"), target.decode("latin-1"), credentials, status))
