// One HTTP GET with the whole response body, provided by the platform layer.
//
// Windows performs it with WinINet: the system's proxy settings apply, HTTPS certificates are always
// checked against the system's trusted roots (a certificate that does not check out means no
// response), no cookies are sent or kept and nothing is cached. The native build has no client of
// its own: there HttpGet always reports that no response arrived, and code that needs responses
// takes them from a test double (ReplaceHttpClient).
#pragma once

#include <cstdint>
#include <string>

namespace velmora::platform {

struct HttpResponse {
  // The response's status code; 0 when no complete response arrived (no connection, a failed
  // certificate check, a time-out, a body cut off part way).
  std::int32_t status = 0;
  // The whole body as received (no content decoding); empty when status is 0. May hold zero bytes.
  std::string body;

  bool Received() const { return status != 0; }
  bool Succeeded() const { return status >= 200 && status <= 299; }
};

// GETs `url` (GBK text; http or https) with no request body, no extra headers and no cookies, and
// waits at most `timeoutMs` milliseconds for the complete response, connecting and reading
// included. Blocks the calling thread. When the time is up the request is abandoned: the call
// returns at once with status 0 while the platform winds the request down in the background.
// Thread-safe: every call uses its own connection.
HttpResponse HttpGet(const std::string& url, std::uint32_t timeoutMs);

// The same request behind an interface, so that tests can answer in the platform's place.
class HttpClient {
 public:
  virtual ~HttpClient() = default;
  virtual HttpResponse Get(const std::string& url, std::uint32_t timeoutMs) = 0;
};

// HttpGet, unless a test has replaced it. Thread-safe.
HttpClient& CurrentHttpClient();

// Tests: `client` (not owned; it must outlive its use) serves CurrentHttpClient; null restores the
// platform's. Thread-safe.
void ReplaceHttpClient(HttpClient* client);

}  // namespace velmora::platform
