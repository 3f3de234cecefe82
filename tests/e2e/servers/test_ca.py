"""A certificate authority made for one test run, and a server certificate it signs.

Everything is generated with the openssl command line into a directory the caller owns (a temporary
directory of the run). The authority is trusted only where a test puts it: inside the test Wine
prefix (https-probe trust-root). Nothing here touches the machine's own certificate store.
"""

import os
import subprocess

# Names the server certificate is valid for: the local addresses, and the manifest host of the
# default build, which the tests reach through their local proxy.
DEFAULT_NAMES = ("127.0.0.1", "localhost", "update.velmora.example")


class TestAuthority:
    """Paths of the generated files: ca_cert (PEM), server_cert and server_key (PEM)."""

    def __init__(self, directory, names=DEFAULT_NAMES, common_name="Velmora Test Authority"):
        self.directory = directory
        os.makedirs(directory, exist_ok=True)
        self.ca_key = os.path.join(directory, "ca.key")
        self.ca_cert = os.path.join(directory, "ca.pem")
        self.server_key = os.path.join(directory, "server.key")
        self.server_cert = os.path.join(directory, "server.pem")
        self._make_authority(common_name)
        self._make_server_certificate(names)

    def _openssl(self, *arguments, stdin=None):
        subprocess.run(("openssl",) + arguments, check=True, input=stdin,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)

    def _make_authority(self, common_name):
        self._openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "2",
                      "-keyout", self.ca_key, "-out", self.ca_cert, "-subj", "/CN=" + common_name,
                      "-addext", "basicConstraints=critical,CA:TRUE",
                      "-addext", "keyUsage=critical,keyCertSign,cRLSign")

    def _make_server_certificate(self, names):
        # An address goes in twice: as an IP entry, and as a DNS entry for Wine, whose name check
        # compares the requested host with the DNS entries only.
        entries = []
        for name in names:
            if _is_address(name):
                entries.append("IP:" + name)
            entries.append("DNS:" + name)
        alt_names = ",".join(entries)
        request = os.path.join(self.directory, "server.csr")
        extensions = os.path.join(self.directory, "server.ext")
        with open(extensions, "w", encoding="ascii") as out:
            out.write("basicConstraints=CA:FALSE\n"
                      "keyUsage=critical,digitalSignature,keyEncipherment\n"
                      "extendedKeyUsage=serverAuth\n"
                      "subjectAltName=" + alt_names + "\n")
        self._openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-sha256",
                      "-keyout", self.server_key, "-out", request, "-subj", "/CN=" + names[0])
        self._openssl("x509", "-req", "-in", request, "-CA", self.ca_cert, "-CAkey", self.ca_key,
                      "-CAcreateserial", "-days", "2", "-sha256", "-extfile", extensions,
                      "-out", self.server_cert)


def _is_address(name):
    parts = name.split(".")
    return len(parts) == 4 and all(part.isdigit() for part in parts)
