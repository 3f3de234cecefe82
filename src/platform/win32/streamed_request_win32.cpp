// Streamed requests with WinINet's ANSI functions.
//
// The URL, the agent name and the header block are GBK bytes and go to the A functions unchanged
// (an address is ASCII in practice). Every internet handle is owned by one InternetHandle and closed
// once, when its owner goes; a request is destroyed before its session (see streamed_request.h).
//
// Receive time-out: a session opened with receiveTimeoutMs 0 gets kDefaultReceiveTimeoutMs, because
// Wine's WinINet has no receive time-out of its own (a read from a server that stops sending, with
// the connection still open, waits for ever there); Windows' own default is of the same order.
// So a stalled read always fails after a bounded time instead of holding its worker.
#include "platform/streamed_request.h"

#include <windows.h>
#include <wininet.h>

#include <limits>
#include <utility>

namespace velmora::platform {
namespace {

// The receive time-out of a session opened without one of its own.
constexpr DWORD kDefaultReceiveTimeoutMs = 30000;

class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
  ~InternetHandle() {
    if (handle_ != nullptr) InternetCloseHandle(handle_);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HINTERNET handle_;
};

// A header's value as text; false when the response has no such header (or it cannot be read).
bool QueryHeaderText(HINTERNET request, DWORD query, std::string& value) {
  std::string buffer(64, '\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD size = static_cast<DWORD>(buffer.size());
    if (HttpQueryInfoA(request,
                       query,          // dwInfoLevel: the header, as text
                       buffer.data(),  // lpBuffer
                       &size,          // lpdwBufferLength: in bytes; out the text's length
                       nullptr)) {     // lpdwIndex: the first header of that name
      buffer.resize(size < buffer.size() ? size : buffer.size());
      value = std::move(buffer);
      return true;
    }
    // Too small: `size` now holds the bytes needed, the terminating zero included.
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= buffer.size()) return false;
    buffer.assign(size, '\0');
  }
  return false;
}

// Decimal digits, with blanks around them, to a number; -1 for anything else (no digits, a sign,
// a second value, a number beyond 64 bits).
std::int64_t ParseLength(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  if (begin == end) return -1;
  std::int64_t value = 0;
  for (std::size_t i = begin; i < end; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return -1;
    const int digit = c - '0';
    if (value > (std::numeric_limits<std::int64_t>::max() - digit) / 10) return -1;
    value = value * 10 + digit;
  }
  return value;
}

class WinInetRequest final : public StreamedRequest {
 public:
  explicit WinInetRequest(HINTERNET request) : request_(request) {}

  std::int32_t StatusCode() override {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!HttpQueryInfoA(request_.Get(),
                        HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,  // dwInfoLevel
                        &status,                                          // lpBuffer
                        &size,                                            // lpdwBufferLength
                        nullptr)) {                                       // lpdwIndex
      return 0;
    }
    return status > static_cast<DWORD>(std::numeric_limits<std::int32_t>::max()) ? 0
                                                                                 : static_cast<std::int32_t>(status);
  }

  // Read as text: HTTP_QUERY_FLAG_NUMBER gives 32 bits, too few for files of 4 GiB and more.
  std::int64_t ContentLength() override {
    std::string text;
    if (!QueryHeaderText(request_.Get(), HTTP_QUERY_CONTENT_LENGTH, text)) return -1;
    return ParseLength(text);
  }

  std::string ContentEncoding() override {
    std::string text;
    if (!QueryHeaderText(request_.Get(), HTTP_QUERY_CONTENT_ENCODING, text)) return {};
    return text;
  }

  std::int64_t Read(void* buffer, std::uint32_t size) override {
    DWORD got = 0;
    if (!InternetReadFile(request_.Get(), buffer, size, &got)) return -1;
    return got;
  }

 private:
  InternetHandle request_;
};

class WinInetSession final : public InternetSession {
 public:
  explicit WinInetSession(HINTERNET session) : session_(session) {}

  std::unique_ptr<StreamedRequest> OpenUrl(const std::string& url, const std::string& headers,
                                           std::uint32_t flags) override {
    // A zero inside the address would cut it short; such an address is invalid.
    if (url.find('\0') != std::string::npos || headers.size() > std::numeric_limits<DWORD>::max()) {
      return nullptr;
    }
    HINTERNET request = InternetOpenUrlA(session_.Get(),
                                         url.c_str(),                          // lpszUrl
                                         headers.empty() ? nullptr : headers.data(),  // lpszHeaders
                                         static_cast<DWORD>(headers.size()),   // dwHeadersLength: exact
                                         flags,                                // dwFlags
                                         0);                                   // dwContext
    if (request == nullptr) return nullptr;
    return std::make_unique<WinInetRequest>(request);
  }

 private:
  InternetHandle session_;
};

class WinInetStreamingHttp final : public StreamingHttp {
 public:
  std::uint32_t ConnectedStateFlags() override {
    DWORD flags = 0;
    InternetGetConnectedState(&flags, 0);  // the answer itself is not needed, only the flags
    return flags;
  }

  std::unique_ptr<InternetSession> OpenSession(const std::string& agent, std::uint32_t accessType,
                                               std::uint32_t receiveTimeoutMs) override {
    HINTERNET handle = InternetOpenA(agent.c_str(),  // lpszAgent
                                     accessType,     // dwAccessType
                                     nullptr,        // lpszProxy
                                     nullptr,        // lpszProxyBypass
                                     0);             // dwFlags: synchronous
    if (handle == nullptr) return nullptr;
    auto session = std::make_unique<WinInetSession>(handle);
    DWORD timeout = receiveTimeoutMs != 0 ? receiveTimeoutMs : kDefaultReceiveTimeoutMs;
    // Requests opened from the session take its time-out.
    InternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof(timeout));
    return session;
  }
};

}  // namespace

StreamingHttp& PlatformStreamingHttp() {
  static WinInetStreamingHttp http;
  return http;
}

}  // namespace velmora::platform
