// A streamed HTTP request, provided by the platform layer: open an internet session, open a URL
// with a header block, read the status and the length, read the body chunk by chunk, close.
//
// Windows performs it with WinINet (InternetGetConnectedState, InternetOpenA, then win32::OpenUrl,
// which opens the URL through the system's proxy and answers a proxy's 407 (win32/url_request.h),
// HttpQueryInfoA, InternetReadFile, InternetCloseHandle). The native build has no client of its
// own: there OpenSession always fails, and code that needs responses takes them from a test
// double (ReplaceStreamingHttp).
//
// Ownership: a session closes its internet handle when destroyed, a request its request handle.
// A request must be destroyed before the session it came from. One session and its requests are
// used by one thread at a time; separate sessions are independent.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace velmora::platform {

// InternetGetConnectedState's flag for a connection through a proxy (INTERNET_CONNECTION_PROXY).
inline constexpr std::uint32_t kInternetConnectionProxy = 0x04;
// InternetOpen's access types.
inline constexpr std::uint32_t kInternetOpenTypePreconfig = 0;                  // INTERNET_OPEN_TYPE_PRECONFIG
inline constexpr std::uint32_t kInternetOpenTypePreconfigWithNoAutoproxy = 4;  // ..._WITH_NO_AUTOPROXY
// INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE.
inline constexpr std::uint32_t kDownloadRequestFlags = 0x84000100;

class StreamedRequest {
 public:
  virtual ~StreamedRequest() = default;

  // The response's status code; 0 when it cannot be read.
  virtual std::int32_t StatusCode() = 0;
  // The Content-Length header as a 64-bit number; -1 when it is missing or unreadable.
  virtual std::int64_t ContentLength() = 0;
  // The Content-Encoding header's value as sent; empty when there is none.
  virtual std::string ContentEncoding() = 0;
  // The Content-Range header's value as sent ("bytes 100-199/200"); empty when there is none.
  virtual std::string ContentRange() = 0;
  // The Content-Type header's value as sent ("multipart/byteranges; boundary=..."); empty when
  // there is none.
  virtual std::string ContentType() { return {}; }
  // Reads up to `size` bytes of the body into `buffer`. Returns the bytes read, 0 at the end of
  // the body, -1 when the read failed (no data for longer than the receive time-out, or a broken
  // connection). A connection closed early may also look like the end of the body (WinINet
  // reports it so): the caller compares what arrived with the announced length.
  virtual std::int64_t Read(void* buffer, std::uint32_t size) = 0;
};

class InternetSession {
 public:
  virtual ~InternetSession() = default;

  // Opens `url` (GBK text, passed unchanged) with the header block `headers` (exact bytes, its
  // length given with it) and the request flags. Null when the request could not be opened (no
  // connection, a refused certificate, an invalid address).
  virtual std::unique_ptr<StreamedRequest> OpenUrl(const std::string& url, const std::string& headers,
                                                   std::uint32_t flags) = 0;
  // OpenUrl, with `whileWaiting` (may be empty) called on the calling thread while the request
  // travels: after it has been handed to the thread that makes it, before its answer is awaited.
  // An implementation that makes the request on the calling thread calls it first. It is called
  // at most once, and not at all when the request could not even be started: a caller that needs
  // it run in any case runs it afterwards itself.
  virtual std::unique_ptr<StreamedRequest> OpenUrlWhileWaiting(const std::string& url, const std::string& headers,
                                                               std::uint32_t flags,
                                                               const std::function<void()>& whileWaiting) {
    if (whileWaiting) whileWaiting();
    return OpenUrl(url, headers, flags);
  }
  // The system's error code (WinINet's on Windows) of the last OpenUrl that returned null; 0 when
  // not known.
  virtual std::uint32_t LastErrorCode() { return 0; }
};

class StreamingHttp {
 public:
  virtual ~StreamingHttp() = default;

  // The connection flags of InternetGetConnectedState (its return value is not needed).
  virtual std::uint32_t ConnectedStateFlags() = 0;
  // Opens an internet session with the agent name and access type (no proxy name, no bypass list,
  // synchronous). `receiveTimeoutMs` 0 keeps the platform's default receive time-out; tests pass
  // a short one. Null when no session could be opened.
  virtual std::unique_ptr<InternetSession> OpenSession(const std::string& agent, std::uint32_t accessType,
                                                       std::uint32_t receiveTimeoutMs = 0) = 0;
};

// The platform's streamed requests, unless a test has replaced them. Thread-safe.
StreamingHttp& CurrentStreamingHttp();

// Tests: `http` (not owned; it must outlive its use) serves CurrentStreamingHttp; null restores
// the platform's. Thread-safe.
void ReplaceStreamingHttp(StreamingHttp* http);

// The platform layer's own implementation.
StreamingHttp& PlatformStreamingHttp();

}  // namespace velmora::platform
