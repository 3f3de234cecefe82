// https-probe: a console tool of the end-to-end tests, run under Wine in the tests' own prefix.
//
//   https-probe trust-root <certificate.pem|.der>
//       Adds the certificate to the current user's "Root" store of the prefix it runs in, so that the
//       tests' local HTTPS server is trusted there and nowhere else. Exit code 0 when it is in the store.
//   https-probe get <url> <timeout-ms>
//       One platform::HttpGet, exactly as the updater makes it. Prints "status N" and "length N" on
//       two lines, then the body's bytes. Exit code 0 (the status line tells the outcome).
#include <windows.h>
#include <wincrypt.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/http_client.h"

namespace {

std::string ReadWholeFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// PEM ("-----BEGIN CERTIFICATE-----") or DER bytes to DER.
std::string ToDer(const std::string& bytes) {
  if (bytes.find("-----BEGIN") == std::string::npos) return bytes;
  DWORD size = 0;
  if (!CryptStringToBinaryA(bytes.data(), static_cast<DWORD>(bytes.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                            &size, nullptr, nullptr)) {
    return {};
  }
  std::string der(size, '\0');
  if (!CryptStringToBinaryA(bytes.data(), static_cast<DWORD>(bytes.size()), CRYPT_STRING_BASE64HEADER,
                            reinterpret_cast<BYTE*>(der.data()), &size, nullptr, nullptr)) {
    return {};
  }
  der.resize(size);
  return der;
}

int TrustRoot(const char* path) {
  const std::string der = ToDer(ReadWholeFile(path));
  if (der.empty()) {
    std::fprintf(stderr, "https-probe: no certificate in %s\n", path);
    return 2;
  }
  if (!CertAddEncodedCertificateToSystemStoreA("Root", reinterpret_cast<const BYTE*>(der.data()),
                                               static_cast<DWORD>(der.size()))) {
    std::fprintf(stderr, "https-probe: adding to the Root store failed (%lu)\n", GetLastError());
    return 1;
  }
  return 0;
}

int Get(const char* url, const char* timeoutText) {
  const auto timeoutMs = static_cast<std::uint32_t>(std::strtoul(timeoutText, nullptr, 10));
  const velmora::platform::HttpResponse response = velmora::platform::HttpGet(url, timeoutMs);
  _setmode(_fileno(stdout), _O_BINARY);
  std::printf("status %d\nlength %zu\n", static_cast<int>(response.status), response.body.size());
  std::fwrite(response.body.data(), 1, response.body.size(), stdout);
  std::fflush(stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "trust-root" && argc == 3) return TrustRoot(argv[2]);
  if (command == "get" && argc == 4) return Get(argv[2], argv[3]);
  std::fprintf(stderr, "usage: https-probe trust-root <certificate> | get <url> <timeout-ms>\n");
  return 2;
}
