"""A local HTTP proxy that takes the program's requests for its manifest host to the test server.

The updater's manifest address is fixed in the build (https://update.velmora.example by default).
The program asks the system's proxy settings how to reach it; the tests start it with its proxy set
to this one (WinINet under Wine reads the http_proxy variable), and this proxy answers every
CONNECT, whatever host it names, with a tunnel to the local HTTPS server. The TLS session runs end
to end between the program and the test server, so the program still checks the certificate, which
the run's test authority issued for the manifest host.

Plain requests in absolute form (GET http://127.0.0.1:port/file) are passed on to 127.0.0.1 only;
anything else gets 502. `refuse_connect = True` makes the proxy answer CONNECT with 502, as a
proxy does when the server is down.
"""

import select
import socket
import socketserver
import threading
import urllib.parse


class _Handler(socketserver.BaseRequestHandler):
    def handle(self):
        proxy = self.server.owner
        client = self.request
        client.settimeout(30)
        head = _read_head(client)
        if head is None:
            return
        request_line, _, rest = head.partition(b"\r\n")
        parts = request_line.split(b" ")
        if len(parts) != 3:
            return
        method, target, version = parts
        proxy._record(request_line.decode("latin-1"))
        if method == b"CONNECT":
            if proxy.refuse_connect:
                client.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
                return
            upstream = _connect(proxy.tunnel_host, proxy.tunnel_port)
            if upstream is None:
                client.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
                return
            client.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
            _relay(client, upstream, proxy.stopping)
            return
        address = urllib.parse.urlsplit(target.decode("latin-1"))
        if address.scheme != "http" or address.hostname != "127.0.0.1":
            client.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
            return
        upstream = _connect("127.0.0.1", address.port or 80)
        if upstream is None:
            client.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
            return
        path = (address.path or "/") + ("?" + address.query if address.query else "")
        upstream.sendall(b" ".join((method, path.encode("latin-1"), version)) + b"\r\n" + rest)
        _relay(client, upstream, proxy.stopping)


def _read_head(connection):
    data = b""
    while b"\r\n\r\n" not in data:
        try:
            chunk = connection.recv(4096)
        except OSError:
            return None
        if not chunk or len(data) > 65536:
            return None
        data += chunk
    return data


def _connect(host, port):
    try:
        return socket.create_connection((host, port), timeout=10)
    except OSError:
        return None


def _relay(first, second, stopping):
    sockets = [first, second]
    try:
        while not stopping.is_set():
            readable, _, _ = select.select(sockets, [], [], 0.2)
            for source in readable:
                data = source.recv(65536)
                if not data:
                    return
                (second if source is first else first).sendall(data)
    except OSError:
        pass
    finally:
        second.close()


class _Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        pass


class TunnelProxy:
    """Listens on 127.0.0.1:<port>; `address` is the value for http_proxy."""

    def __init__(self, tunnel_host, tunnel_port):
        self.tunnel_host = tunnel_host
        self.tunnel_port = tunnel_port
        self.refuse_connect = False
        self.stopping = threading.Event()
        self._lines = []
        self._lock = threading.Lock()
        self._server = _Server(("127.0.0.1", 0), _Handler)
        self._server.owner = self
        self.port = self._server.server_address[1]
        self.address = "http://127.0.0.1:%d" % self.port
        self._thread = threading.Thread(target=self._server.serve_forever, kwargs={"poll_interval": 0.1},
                                        daemon=True)
        self._thread.start()

    def request_lines(self):
        with self._lock:
            return list(self._lines)

    def stop(self):
        self.stopping.set()
        self._server.shutdown()
        self._server.server_close()
        self._thread.join(timeout=10)

    def _record(self, line):
        with self._lock:
            self._lines.append(line)
