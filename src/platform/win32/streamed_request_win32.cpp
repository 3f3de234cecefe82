// Streamed requests with WinINet.
//
// The URL, the agent name and the header block are GBK bytes. The agent name goes to InternetOpenA
// unchanged; the URL and the header block (its exact bytes) are converted with the system's narrow
// code page, as WinINet's A functions convert them, and opened with win32::OpenUrl, which answers
// a proxy that asks for credentials (platform/proxy_credentials.h). While the request's thread
// waits for the user (the credential dialog, shown there or on another thread), the caller's wait
// for the answer does not count; it starts afresh when the request is made again.
//
// Proxy settings. A session opened with INTERNET_OPEN_TYPE_PRECONFIG takes the system's proxy
// settings in WinINet itself. INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY means the same
// settings without an automatic configuration script, but Wine's WinINet opens such a session
// with no proxy at all; so for that type the settings are read here
// (INTERNET_OPTION_PER_CONNECTION_OPTION: the flags, the proxy server, the bypass list) and a
// session that must go through a proxy is opened with that proxy named (INTERNET_OPEN_TYPE_PROXY).
//
// Receive time-out. A session's time-out (receiveTimeoutMs, or kDefaultReceiveTimeoutMs for 0) is
// set as WinINet's INTERNET_OPTION_RECEIVE_TIMEOUT, which Windows applies to each receive. Wine's
// WinINet accepts that option and ignores it: there a read from a server that stops sending, with
// the connection left open, and an open that never gets an answer, wait for ever, and closing the
// handle from another thread does not end them either. So the bound is also kept here: each request
// makes its blocking calls (opening the URL, InternetReadFile) on a thread of its own (a kept one,
// win32/reusable_threads.h), and the caller waits at most the time-out for each. A call that misses it is abandoned: OpenUrl answers
// null, Read -1 (and -1 for every later read). The abandoned call's thread keeps the handles it
// needs (its request handle, a share of the session handle) and closes them when WinINet returns,
// which Windows' own time-out ensures; under Wine that is when the server sends or closes, or when
// the process ends. No handle is touched by two threads at once and none is closed twice.
//
// The thread reads the body ahead of the caller (see RequestLine), and Read waits at most the
// time-out for the next bytes. A WinINet read returns when it has its whole piece or the body ends,
// so while the body is slow the thread first asks how much has arrived and reads only that: a
// server that drips a few bytes every few seconds is read as it drips, and only one that sends
// nothing for the whole time-out fails.
#include "platform/streamed_request.h"
#include "platform/codepage.h"
#include "platform/win32/internet_handle.h"
#include "platform/win32/reusable_threads.h"
#include "platform/win32/url_request.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace velmora::platform {
namespace {

// The receive time-out of a session opened without one of its own (Wine's WinINet has none).
constexpr DWORD kDefaultReceiveTimeoutMs = 30000;

using win32::InternetHandle;

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

// What a request line needs that is costly to make afresh for each request: its lock and its
// condition (under Wine a condition takes two semaphores from the system at its first wait and a
// contended lock an event, each a request to the server to make and one more to close) and its
// ring. A line takes them from here and gives them back when it is destroyed, when neither its
// caller nor its thread can touch them any more; the next line finds them unlocked and unwaited.
struct LineParts {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<char> ring;
};

// At most this many are kept for later lines (the updater makes two requests at a time).
constexpr std::size_t kKeptLineParts = 4;

struct KeptLineParts {
  std::mutex mutex;
  std::vector<std::unique_ptr<LineParts>> parts;
  KeptLineParts() { parts.reserve(kKeptLineParts); }  // so that keeping never allocates
};

// Never destroyed: a line may be given back while the process ends.
KeptLineParts& TheKeptLineParts() {
  static KeptLineParts* kept = new KeptLineParts;
  return *kept;
}

// Throws std::bad_alloc when there is no memory for new ones.
std::unique_ptr<LineParts> TakeLineParts() {
  KeptLineParts& kept = TheKeptLineParts();
  {
    const std::lock_guard<std::mutex> lock(kept.mutex);
    if (!kept.parts.empty()) {
      std::unique_ptr<LineParts> parts = std::move(kept.parts.back());
      kept.parts.pop_back();
      return parts;
    }
  }
  return std::make_unique<LineParts>();
}

void KeepLineParts(std::unique_ptr<LineParts> parts) {
  KeptLineParts& kept = TheKeptLineParts();
  const std::lock_guard<std::mutex> lock(kept.mutex);
  if (kept.parts.size() < kKeptLineParts) kept.parts.push_back(std::move(parts));
}

// What a request's caller and the thread making its blocking calls share. The thread owns the
// request handle: it opens it, reads the body ahead of the caller into `ring` and closes the handle
// when told to stop. Reading ahead keeps the thread busy while the caller writes what it has, so
// the two rarely wait for each other (waking a thread is slow under Wine).
//
// The thread asks WinINet for the caller's read size at first, and for up to kLargestPiece while
// the pieces arrive quickly: each WinINet call has a fixed cost (about 80 us under Wine, where a
// loopback body is read at about 100 MB/s in 10 KiB pieces and at 450 MB/s in 64 KiB ones), and a
// slow body keeps small pieces, whose bytes reach the caller soon.
struct RequestLine {
  RequestLine() : parts(TakeLineParts()), mutex(parts->mutex), changed(parts->changed), ring(parts->ring) {}
  ~RequestLine() { KeepLineParts(std::move(parts)); }
  RequestLine(const RequestLine&) = delete;
  RequestLine& operator=(const RequestLine&) = delete;

  std::unique_ptr<LineParts> parts;  // declared first: the references below point into it
  std::mutex& mutex;
  std::condition_variable& changed;
  std::shared_ptr<InternetHandle> session;  // kept open while the thread may use it
  // Set by the thread: the response, read once it is open.
  bool openDone = false;
  HINTERNET request = nullptr;  // null when the open failed (closed already when the body ended early)
  DWORD openError = 0;          // the thread's last error when the open failed (WinINet's, for the log)
  std::int32_t status = 0;
  std::int64_t contentLength = -1;
  std::string contentEncoding;
  std::string contentRange;
  std::string contentType;
  // Set by the thread: the body.
  bool inCall = false;  // inside InternetReadFile
  enum class Body { Reading, Ended, Failed } body = Body::Reading;
  // The bytes read and not yet taken: `count` bytes from `start`, wrapping around. The thread
  // writes into the free part without the lock; only the counters change under it. (A kept ring
  // holds an earlier line's bytes, which are never read: `count` starts at 0.)
  std::vector<char>& ring;
  std::size_t start = 0;
  std::size_t count = 0;
  DWORD smallestPiece = 0;  // the caller's read size (at most kLargestPiece); kFirstPiece before its first Read
  bool callerRead = false;  // the caller has made its first Read
  // Who waits, so that a wake-up is sent only when it is needed.
  bool callerWaiting = false;
  bool threadWaiting = false;
  bool stop = false;  // close the request and end
  bool finished = false;  // set by the thread when it has closed the request and let go of the line
  bool waitingForUser = false;  // set by the thread while the opening waits for proxy credentials

  std::size_t Free() const { return ring.size() - count; }
};

// The most asked of one InternetReadFile. The ring holds four such pieces; the thread resumes
// reading when half of it is free.
constexpr DWORD kLargestPiece = 64 * 1024;
constexpr std::size_t kRingSize = 4 * kLargestPiece;
// The piece read ahead before the caller's first Read: the download's own read size.
constexpr DWORD kFirstPiece = 10240;
// A whole piece read faster than this doubles the next one; a read slower than that halves it.
constexpr auto kGrowBelow = std::chrono::milliseconds(10);
constexpr auto kShrinkAbove = std::chrono::milliseconds(100);

std::int32_t QueryStatus(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!HttpQueryInfoA(request,
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
std::int64_t QueryContentLength(HINTERNET request) {
  std::string text;
  if (!QueryHeaderText(request, HTTP_QUERY_CONTENT_LENGTH, text)) return -1;
  return ParseLength(text);
}

std::string QueryContentEncoding(HINTERNET request) {
  std::string text;
  if (!QueryHeaderText(request, HTTP_QUERY_CONTENT_ENCODING, text)) return {};
  return text;
}

std::string QueryContentRange(HINTERNET request) {
  std::string text;
  if (!QueryHeaderText(request, HTTP_QUERY_CONTENT_RANGE, text)) return {};
  return text;
}

std::string QueryContentType(HINTERNET request) {
  std::string text;
  if (!QueryHeaderText(request, HTTP_QUERY_CONTENT_TYPE, text)) return {};
  return text;
}

// Tells the caller, which waits for the opening, when the thread waits for the user.
win32::UserWait PauseWhileAsking(const std::shared_ptr<RequestLine>& line) {
  win32::UserWait wait;
  wait.began = [line] {
    const std::lock_guard<std::mutex> lock(line->mutex);
    line->waitingForUser = true;
    line->changed.notify_all();
  };
  wait.ended = [line] {
    const std::lock_guard<std::mutex> lock(line->mutex);
    line->waitingForUser = false;
    line->changed.notify_all();
  };
  return wait;
}

void MakeCalls(const std::shared_ptr<RequestLine>& line, const std::string& url, const std::string& headers,
               DWORD flags) {
  win32::UrlRequest opened;
  try {
    const std::u16string wideUrl = MultiByteToWide(url, CP_ACP);
    const std::u16string wideHeaders = MultiByteToWide(headers, CP_ACP);
    if (!wideUrl.empty() && wideHeaders.empty() == headers.empty()) {
      opened = win32::OpenUrl(line->session->Get(), wideUrl, wideHeaders, flags, PauseWhileAsking(line));
    }
  } catch (const std::bad_alloc&) {
    opened.Close();  // counts as not opened
  }
  HINTERNET request = opened.Get();
  const DWORD openError = request == nullptr ? GetLastError() : 0;
  // The headers arrived with the response: reading them never waits for the server. A response
  // whose headers cannot be held counts as not opened (its encoding would be unknown).
  std::int32_t status = 0;
  std::int64_t contentLength = -1;
  std::string contentEncoding;
  std::string contentRange;
  std::string contentType;
  if (request != nullptr) {
    try {
      status = QueryStatus(request);
      contentLength = QueryContentLength(request);
      contentEncoding = QueryContentEncoding(request);
      contentRange = QueryContentRange(request);
      contentType = QueryContentType(request);
    } catch (const std::bad_alloc&) {
      opened.Close();
      request = nullptr;
    }
  }
  // The body is read ahead at once, in the caller's usual piece size until its first Read says
  // otherwise: a small file is then all there when the caller first reads, and the caller never
  // waits for this thread to be woken.
  if (request != nullptr) {
    try {
      line->ring.resize(kRingSize);
    } catch (const std::bad_alloc&) {
      opened.Close();
      request = nullptr;
    }
  }
  // A body that is already all here (a small file over a fast link) is read before the caller
  // hears of the answer, and the request closed: the caller then never waits for this thread again.
  RequestLine::Body early = RequestLine::Body::Reading;
  std::size_t earlyCount = 0;
  if (request != nullptr && contentLength >= 0 && static_cast<std::size_t>(contentLength) < line->ring.size()) {
    DWORD available = 0;
    if (InternetQueryDataAvailable(request, &available, 0, 0) && available >= contentLength) {
      for (;;) {
        DWORD got = 0;
        const auto room = static_cast<DWORD>(line->ring.size() - earlyCount);
        if (!InternetReadFile(request, line->ring.data() + earlyCount, room, &got)) {
          early = RequestLine::Body::Failed;
          break;
        }
        if (got == 0) {
          early = RequestLine::Body::Ended;
          break;
        }
        earlyCount += got;
        // More than announced: the caller finds out, as with any body; the ring holds no more.
        if (earlyCount == line->ring.size()) break;
      }
    }
    if (early != RequestLine::Body::Reading) {
      opened.Close();
    }
  }
  std::unique_lock<std::mutex> lock(line->mutex);
  // After an early end the handle is closed already: the caller only learns that it opened.
  line->request = request;
  line->count = earlyCount;
  if (early != RequestLine::Body::Reading) {
    line->body = early;
    line->finished = true;
    request = nullptr;
  }
  if (request != nullptr && line->smallestPiece == 0) line->smallestPiece = kFirstPiece;
  line->status = status;
  line->contentLength = contentLength;
  line->contentEncoding = std::move(contentEncoding);
  line->contentRange = std::move(contentRange);
  line->contentType = std::move(contentType);
  line->openError = openError;
  line->openDone = true;
  line->changed.notify_all();
  DWORD piece = 0;        // the next piece's size
  DWORD smallest = 0;     // the caller's read size
  bool dripping = true;   // the body arrives slowly (or has not shown yet that it does not)
  // Until the body has ended or failed: then the request is closed at once, so that the caller,
  // when it is done, finds nothing left to wait for.
  while (request != nullptr && line->body == RequestLine::Body::Reading) {
    line->threadWaiting = true;
    line->changed.wait(lock, [&] {
      return line->stop || (line->body == RequestLine::Body::Reading && line->smallestPiece != 0 &&
                            line->Free() >= std::max(piece, line->smallestPiece));
    });
    line->threadWaiting = false;
    if (line->stop) break;
    smallest = line->smallestPiece;
    piece = std::max(piece, smallest);
    const std::size_t end = (line->start + line->count) % line->ring.size();
    const auto size = static_cast<DWORD>(std::min<std::size_t>(piece, line->ring.size() - end));
    char* target = line->ring.data() + end;
    line->inCall = true;
    lock.unlock();
    const auto started = std::chrono::steady_clock::now();
    DWORD got = 0;
    DWORD wanted = size;
    DWORD available = 0;
    bool ok = true;
    if (dripping) {
      // A slow body: ask only for what has arrived, so that a server dripping a few bytes at a
      // time is read as it drips instead of failing after a time-out with a piece half filled.
      // (A fast body skips this call; it costs as much as a read.)
      ok = InternetQueryDataAvailable(request, &available, 0, 0) != FALSE;
      if (ok && available > 0 && available < wanted) wanted = available;
    }
    ok = ok && InternetReadFile(request, target, wanted, &got) != FALSE;
    const auto took = std::chrono::steady_clock::now() - started;
    if (ok && got == piece && took < kGrowBelow) {
      piece = std::min(piece * 2, kLargestPiece);
    } else if (took > kShrinkAbove) {
      piece = std::max(piece / 2, smallest);
    }
    // A read that waited long marks a slow body; a whole piece there at once ends that.
    if (took > kShrinkAbove) {
      dripping = true;
    } else if (ok && took < kGrowBelow && (got == size || available >= size)) {
      dripping = false;
    }
    lock.lock();
    line->inCall = false;
    if (!ok) {
      line->body = RequestLine::Body::Failed;
    } else if (got == 0) {
      line->body = RequestLine::Body::Ended;
    } else {
      line->count += got;
    }
    if (line->callerWaiting) line->changed.notify_all();
  }
  lock.unlock();
  opened.Close();
  lock.lock();
  line->finished = true;
  if (line->callerWaiting) line->changed.notify_all();
}

class WinInetRequest final : public StreamedRequest {
 public:
  WinInetRequest(std::shared_ptr<RequestLine> line, std::chrono::milliseconds timeout)
      : line_(std::move(line)), timeout_(timeout) {}

  ~WinInetRequest() override {
    std::unique_lock<std::mutex> lock(line_->mutex);
    line_->stop = true;
    line_->changed.notify_all();
    // An idle thread closes the request at once, and is waited for; one inside WinINet does when
    // its call returns, and is left to it.
    if (!line_->inCall && !abandoned_ && !line_->finished) {
      line_->callerWaiting = true;
      line_->changed.wait(lock, [&] { return line_->finished; });
    }
  }

  WinInetRequest(const WinInetRequest&) = delete;
  WinInetRequest& operator=(const WinInetRequest&) = delete;

  std::int32_t StatusCode() override { return line_->status; }
  std::int64_t ContentLength() override { return line_->contentLength; }
  std::string ContentEncoding() override { return line_->contentEncoding; }
  std::string ContentRange() override { return line_->contentRange; }
  std::string ContentType() override { return line_->contentType; }

  // The bytes the thread has read ahead, up to `size`; waits at most the time-out for some.
  std::int64_t Read(void* buffer, std::uint32_t size) override {
    if (abandoned_) return -1;
    if (size == 0) return 0;
    std::unique_lock<std::mutex> lock(line_->mutex);
    if (!line_->callerRead) {
      line_->callerRead = true;
      line_->smallestPiece = size < kLargestPiece ? size : kLargestPiece;
      if (line_->threadWaiting) line_->changed.notify_all();
    }
    line_->callerWaiting = true;
    const bool ready = line_->changed.wait_for(
        lock, timeout_, [&] { return line_->count > 0 || line_->body != RequestLine::Body::Reading; });
    line_->callerWaiting = false;
    if (!ready) {
      abandoned_ = true;
      line_->stop = true;
      return -1;
    }
    if (line_->count == 0) return line_->body == RequestLine::Body::Ended ? 0 : -1;

    const std::size_t taken = std::min<std::size_t>(size, line_->count);
    const std::size_t first = std::min(taken, line_->ring.size() - line_->start);
    std::memcpy(buffer, line_->ring.data() + line_->start, first);
    std::memcpy(static_cast<char*>(buffer) + first, line_->ring.data(), taken - first);
    line_->start = (line_->start + taken) % line_->ring.size();
    line_->count -= taken;
    if (line_->threadWaiting && line_->Free() >= line_->ring.size() / 2) line_->changed.notify_all();
    return static_cast<std::int64_t>(taken);
  }

 private:
  std::shared_ptr<RequestLine> line_;
  std::chrono::milliseconds timeout_;
  bool abandoned_ = false;
};

class WinInetSession final : public InternetSession {
 public:
  WinInetSession(HINTERNET session, DWORD receiveTimeoutMs)
      : session_(std::make_shared<InternetHandle>(session)), timeout_(receiveTimeoutMs) {}

  std::unique_ptr<StreamedRequest> OpenUrl(const std::string& url, const std::string& headers,
                                           std::uint32_t flags) override {
    return OpenUrlWhileWaiting(url, headers, flags, {});
  }

  std::unique_ptr<StreamedRequest> OpenUrlWhileWaiting(const std::string& url, const std::string& headers,
                                                       std::uint32_t flags,
                                                       const std::function<void()>& whileWaiting) override {
    // A zero inside the address would cut it short; such an address is invalid.
    if (url.find('\0') != std::string::npos || headers.size() > std::numeric_limits<DWORD>::max()) {
      return nullptr;
    }
    std::shared_ptr<RequestLine> line;
    try {
      line = std::make_shared<RequestLine>();
      line->session = session_;
      if (!win32::RunOnReusableThread([line, url, headers, flags] { MakeCalls(line, url, headers, flags); })) {
        return nullptr;  // no thread to be had
      }
    } catch (const std::exception&) {
      return nullptr;  // no memory
    }
    // The caller's own work overlaps the request's way to the server and back.
    if (whileWaiting) whileWaiting();

    std::unique_lock<std::mutex> lock(line->mutex);
    // At most the time-out for the answer, not counting the time the thread waits for the user.
    auto limit = std::chrono::steady_clock::now() + timeout_;
    while (!line->openDone) {
      if (line->waitingForUser) {
        line->changed.wait(lock);
        limit = std::chrono::steady_clock::now() + timeout_;
      } else if (line->changed.wait_until(lock, limit) == std::cv_status::timeout && !line->openDone &&
                 !line->waitingForUser) {
        line->stop = true;  // the thread closes the request, if one ever opens, and goes
        lastError_ = ERROR_INTERNET_TIMEOUT;
        return nullptr;
      }
    }
    if (line->request != nullptr) {
      lock.unlock();
      try {
        return std::make_unique<WinInetRequest>(std::move(line), timeout_);
      } catch (const std::bad_alloc&) {
        lock.lock();
        line->stop = true;
        line->changed.notify_all();
      }
    }
    lastError_ = line->openError;
    line->callerWaiting = true;
    line->changed.wait(lock, [&] { return line->finished; });
    return nullptr;
  }

  std::uint32_t LastErrorCode() override { return lastError_; }

 private:
  DWORD lastError_ = 0;
  std::shared_ptr<InternetHandle> session_;
  std::chrono::milliseconds timeout_;
};

// The proxy that the system's settings name for this machine's connection (not an automatic
// configuration script's).
struct SystemProxy {
  std::string server;  // "host:port", or a list per scheme ("http=host:port;https=host:port")
  std::string bypass;  // the addresses reached without it ("<local>;*.example"), or empty
};

// True when the system's settings send requests through a proxy, which `proxy` then names.
bool ReadSystemProxy(SystemProxy& proxy) {
  INTERNET_PER_CONN_OPTIONA options[3] = {};
  options[0].dwOption = INTERNET_PER_CONN_FLAGS;
  options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
  options[2].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
  INTERNET_PER_CONN_OPTION_LISTA list = {};
  list.dwSize = sizeof(list);
  list.pszConnection = nullptr;  // the LAN's settings
  list.dwOptionCount = 3;
  list.pOptions = options;
  DWORD size = sizeof(list);
  if (!InternetQueryOptionA(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size)) return false;
  // The texts are the caller's to free (GlobalFree).
  const auto take = [](char* text) {
    std::string value = text != nullptr ? std::string(text) : std::string();
    if (text != nullptr) GlobalFree(text);
    return value;
  };
  proxy.server = take(options[1].Value.pszValue);
  proxy.bypass = take(options[2].Value.pszValue);
  return (options[0].Value.dwValue & PROXY_TYPE_PROXY) != 0 && !proxy.server.empty();
}

class WinInetStreamingHttp final : public StreamingHttp {
 public:
  // InternetGetConnectedState looks at every network interface: 12 ms a call under Wine, more
  // than the whole transfer of a small file. Its flags only choose the access type, and they
  // change with the machine's network set-up, not from one file to the next: an answer is used
  // for kConnectedStateLifetimeMs. Two threads that ask at once may both call it; either answer
  // is current.
  std::uint32_t ConnectedStateFlags() override {
    const std::uint64_t remembered = remembered_.load(std::memory_order_acquire);
    const std::uint32_t now = GetTickCount();
    if ((remembered >> 32) != 0 && now - static_cast<std::uint32_t>(remembered) < kConnectedStateLifetimeMs) {
      return static_cast<std::uint32_t>(remembered >> 32) & ~kValidFlag;
    }
    DWORD flags = 0;
    InternetGetConnectedState(&flags, 0);  // the answer itself is not needed, only the flags
    remembered_.store((static_cast<std::uint64_t>(flags | kValidFlag) << 32) | GetTickCount(), std::memory_order_release);
    return flags;
  }

  std::unique_ptr<InternetSession> OpenSession(const std::string& agent, std::uint32_t accessType,
                                               std::uint32_t receiveTimeoutMs) override {
    SystemProxy proxy;
    bool named = false;
    try {
      named = accessType == INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY && RememberedSystemProxy(proxy);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    HINTERNET handle = InternetOpenA(agent.c_str(),                                  // lpszAgent
                                     named ? INTERNET_OPEN_TYPE_PROXY : accessType,  // dwAccessType
                                     named ? proxy.server.c_str() : nullptr,         // lpszProxy
                                     named && !proxy.bypass.empty() ? proxy.bypass.c_str() : nullptr,
                                     0);  // dwFlags: synchronous
    if (handle == nullptr) return nullptr;
    DWORD timeout = receiveTimeoutMs != 0 ? receiveTimeoutMs : kDefaultReceiveTimeoutMs;
    // Requests opened from the session take it (on Windows; see the top of the file).
    InternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof(timeout));
    try {
      return std::make_unique<WinInetSession>(handle, timeout);
    } catch (const std::bad_alloc&) {
      InternetCloseHandle(handle);
      return nullptr;
    }
  }

 private:
  // ReadSystemProxy's answer, read again after kConnectedStateLifetimeMs: asking WinINet for the
  // settings costs about 20 ms under Wine, several times a small file's whole transfer, and they
  // change with the machine's set-up, not from one file to the next. Threads that ask while it is
  // being read wait for that answer.
  bool RememberedSystemProxy(SystemProxy& proxy) {
    const std::lock_guard<std::mutex> lock(proxyMutex_);
    const DWORD now = GetTickCount();
    if (!proxyRead_ || now - proxyReadTick_ >= kConnectedStateLifetimeMs) {
      proxyRead_ = false;
      proxyNamed_ = ReadSystemProxy(proxy_);
      proxyReadTick_ = now;
      proxyRead_ = true;
    }
    proxy = proxy_;
    return proxyNamed_;
  }

  static constexpr std::uint32_t kConnectedStateLifetimeMs = 10'000;
  // Marks a remembered answer (no INTERNET_CONNECTION_* flag uses the top bit).
  static constexpr std::uint32_t kValidFlag = 0x80000000u;
  // The last answer: its flags | kValidFlag in the high half, the tick it was taken at in the low.
  std::atomic<std::uint64_t> remembered_{0};
  std::mutex proxyMutex_;
  bool proxyRead_ = false;  // proxy_ and proxyNamed_ hold an answer, read at proxyReadTick_
  bool proxyNamed_ = false;
  DWORD proxyReadTick_ = 0;
  SystemProxy proxy_;
};

}  // namespace

StreamingHttp& PlatformStreamingHttp() {
  static WinInetStreamingHttp http;
  return http;
}

}  // namespace velmora::platform
