"""nginx (Debian's package, which scripts/setup.sh installs) serving a folder over plain HTTP on
127.0.0.1, the way a release's tree is served in production: the server decodes each request's path
and looks for the file of that name below the folder.

It runs in the foreground (`daemon off;`) as a child of the test, as the current user, with a
configuration, pid file, temporary folders and logs of its own below `work`, on a free port; stop()
ends it by its pid. The access log records each request as "<status> <request target as sent>";
a second one also its Range header and the body bytes sent, a third its method.

    server = NginxServer("/path/to/tree", "/path/to/work")   # locations="...": more of the server block
    server.url("/files/x.dll")          # "http://127.0.0.1:<port>/files/x.dll"
    server.requests()                   # [(200, "/files/说明.txt"), ...]: status and decoded path
    server.request_starts()             # [1796548800.123, ...]: when each request came
    server.range_requests()             # [Served(206, "/files/x.dll.vmdp", "bytes=0-99,200-299", 412), ...]
    server.methods()                    # [("PUT", 201, "/dav/files/x.dll"), ...]
    server.stop()
"""

import grp
import os
import pwd
import shutil
import signal
import socket
import subprocess
import time
import urllib.parse
from collections import namedtuple

NGINX = shutil.which("nginx") or "/usr/sbin/nginx"

_CONFIGURATION = """\
{main}{user}daemon off;
master_process on;
worker_processes 1;
pid {pid};
error_log {error_log} info;
events {{
    worker_connections 64;
}}
http {{
    default_type application/octet-stream;
    sendfile on;
    log_format requests '$status $request_uri';
    log_format timing '$msec $request_time $connection';
    log_format ranges '$status $body_bytes_sent $request_uri "$http_range"';
    log_format methods '$request_method $status $request_uri';
    access_log {access_log} requests;
    access_log {timing_log} timing;
    access_log {ranges_log} ranges;
    access_log {methods_log} methods;
{temp_paths}    server {{
        listen 127.0.0.1:{port};
        root {root};
        location / {{
        }}
{locations}    }}
}}
"""


# One request of the ranges log: the status, the decoded path, the Range header's value (None
# without one) and the body bytes sent.
Served = namedtuple("Served", "status path range bytes")


def _decoded(target):
    """The path of a request target as nginx looked it up: percent-decoded as UTF-8 (the raw
    target when it does not decode)."""
    path = target.split("?", 1)[0]
    try:
        return urllib.parse.unquote(path, errors="strict")
    except UnicodeDecodeError:
        return path


def _free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def _quoted(path):
    """`path` as one nginx configuration token."""
    return '"' + path.replace("\\", "\\\\").replace('"', '\\"') + '"'


class NginxServer:
    def __init__(self, root, work, attempts=5, timeout=20, locations="", main=""):
        if not os.path.exists(NGINX):
            raise RuntimeError("nginx is missing: scripts/setup.sh installs it")
        self.root = os.path.abspath(root)
        self.work = os.path.abspath(work)
        os.makedirs(os.path.join(self.work, "temp"), exist_ok=True)
        self.process = None
        self.locations = locations  # more of the server block, as given
        self.main = main  # more of the main context (load_module), as given
        # A port found free may be taken before nginx binds it: then nginx ends, and another is tried.
        for _ in range(attempts):
            self.port = _free_port()
            if self._start(timeout):
                return
        raise RuntimeError("nginx did not start: " + self.error_log())

    def _start(self, timeout):
        configuration = os.path.join(self.work, "nginx.conf")
        # Workers of a master started as root would switch to an unprivileged user that may not read
        # the tree: they run as the current user instead. Otherwise nginx keeps the user it has.
        user = ""
        if os.geteuid() == 0:
            user = "user %s %s;\n" % (pwd.getpwuid(os.geteuid()).pw_name, grp.getgrgid(os.getegid()).gr_name)
        with open(configuration, "w", encoding="utf-8") as out:
            out.write(_CONFIGURATION.format(
                main=self.main, user=user, port=self.port, root=_quoted(self.root),
                locations=self.locations, pid=_quoted(os.path.join(self.work, "nginx.pid")),
                error_log=_quoted(os.path.join(self.work, "error.log")),
                access_log=_quoted(os.path.join(self.work, "access.log")),
                timing_log=_quoted(os.path.join(self.work, "timing.log")),
                ranges_log=_quoted(os.path.join(self.work, "ranges.log")),
                methods_log=_quoted(os.path.join(self.work, "methods.log")),
                temp_paths="".join("    %s_temp_path %s;\n" % (kind, _quoted(os.path.join(self.work, "temp", kind)))
                                   for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))))
        self.process = subprocess.Popen(
            [NGINX, "-p", self.work + "/", "-c", configuration, "-e", os.path.join(self.work, "error.log")],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                return False
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=1):
                    return True
            except OSError:
                time.sleep(0.05)
        self.stop()
        return False

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def requests(self):
        """Every request so far as (status, path): the path percent-decoded as UTF-8, as nginx looked
        it up (the raw target when it does not decode)."""
        try:
            with open(os.path.join(self.work, "access.log"), encoding="ascii", errors="replace") as log:
                lines = log.read().splitlines()
        except FileNotFoundError:
            return []
        requests = []
        for line in lines:
            status, _, target = line.partition(" ")
            path = target.split("?", 1)[0]
            try:
                path = urllib.parse.unquote(path, errors="strict")
            except UnicodeDecodeError:
                pass
            requests.append((int(status), path))
        return requests

    def range_requests(self):
        """Every request so far as a Served: status, decoded path, Range header (None when the
        request had none) and the body bytes nginx sent."""
        try:
            with open(os.path.join(self.work, "ranges.log"), encoding="ascii", errors="replace") as log:
                lines = log.read().splitlines()
        except FileNotFoundError:
            return []
        served = []
        for line in lines:
            status, sent, target, quoted_range = line.split(" ", 3)
            value = quoted_range[1:-1]
            served.append(Served(int(status), _decoded(target), None if value == "-" else value, int(sent)))
        return served

    def methods(self):
        """Every request so far as (method, status, decoded path)."""
        with open(os.path.join(self.work, "methods.log"), encoding="ascii", errors="replace") as log:
            return [(m, int(s), _decoded(t)) for m, s, t in (line.split(" ", 2) for line in log.read().splitlines())]

    def request_starts(self):
        """When each request so far came, in seconds since 1970 (time.time()): its end as logged
        less the time nginx took for it."""
        try:
            with open(os.path.join(self.work, "timing.log"), encoding="ascii") as log:
                lines = log.read().splitlines()
        except FileNotFoundError:
            return []
        starts = []
        for line in lines:
            ended, took = (float(field) for field in line.split()[:2])
            starts.append(ended - took)
        return starts

    def connections(self):
        """How many connections the requests so far came over (keep-alive lets one carry many)."""
        try:
            with open(os.path.join(self.work, "timing.log"), encoding="ascii") as log:
                return len({line.split()[2] for line in log.read().splitlines() if len(line.split()) > 2})
        except FileNotFoundError:
            return 0

    def error_log(self):
        try:
            with open(os.path.join(self.work, "error.log"), encoding="utf-8", errors="replace") as log:
                return log.read()[-4000:]
        except FileNotFoundError:
            return "(no error log)"

    def stop(self):
        """Ends nginx by its pid (its workers end with it) and waits for it."""
        if self.process is None or self.process.poll() is not None:
            return
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(timeout=10)
