// HttpGet with WinINet.
//
// The request runs on a thread of its own and the caller waits for it with a hard bound: WinINet's
// time-outs apply to each connect, send and receive separately, so a server that trickles its
// answer a byte at a time would otherwise hold the caller for as long as it likes. A request that
// misses the bound is abandoned: its thread keeps the shared state alive and ends by itself, since
// every WinINet step is limited to the same time and the read loop stops at the deadline. Handles
// are only ever touched by that thread, so no handle is closed twice or used after closing.
//
// The session takes the system's proxy settings (INTERNET_OPEN_TYPE_PRECONFIG), and the request is
// opened with win32::OpenUrl, which answers a proxy's 407 (platform/proxy_credentials.h). The time
// the thread spends waiting for the user's credentials (the dialog, shown there or on another
// thread) does not count: the bound moves on by that much, for the caller and for the thread.
//
// Certificate checks are WinINet's defaults and are never relaxed: no INTERNET_FLAG_IGNORE_CERT_*
// flag and no SECURITY_FLAG_IGNORE_* option is set anywhere.
#include "platform/http_client.h"

#include <windows.h>
#include <wininet.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/codepage.h"
#include "platform/win32/internet_handle.h"
#include "platform/win32/url_request.h"

namespace velmora::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kNarrowCodePage = 936;
constexpr DWORD kReadPieceSize = 64 * 1024;

using win32::InternetHandle;

// What the caller and the request's thread share; whichever finishes last frees it.
struct Exchange {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  HttpResponse response;
  // When the request is given up; moved on by the time spent waiting for the user.
  Clock::time_point deadline;
  bool waitingForUser = false;
  Clock::time_point userWaitBegan;

  Clock::time_point Deadline() {
    const std::lock_guard<std::mutex> lock(mutex);
    return deadline;
  }
};

DWORD MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<DWORD>(left);
}

// The caller stops counting while the request's thread waits for the user, and the deadline moves
// on by the time that took.
win32::UserWait PauseWhileAsking(const std::shared_ptr<Exchange>& exchange) {
  win32::UserWait wait;
  wait.began = [exchange] {
    const std::lock_guard<std::mutex> lock(exchange->mutex);
    exchange->waitingForUser = true;
    exchange->userWaitBegan = Clock::now();
  };
  wait.ended = [exchange] {
    const std::lock_guard<std::mutex> lock(exchange->mutex);
    exchange->waitingForUser = false;
    exchange->deadline += Clock::now() - exchange->userWaitBegan;
    exchange->finished.notify_all();
  };
  return wait;
}

void LimitEachStep(HINTERNET handle, DWORD milliseconds) {
  // 0 would mean "no time-out" to WinINet; the deadline has passed anyway when it is reached.
  DWORD value = milliseconds == 0 ? 1 : milliseconds;
  for (DWORD option : {DWORD{INTERNET_OPTION_CONNECT_TIMEOUT}, DWORD{INTERNET_OPTION_SEND_TIMEOUT},
                       DWORD{INTERNET_OPTION_RECEIVE_TIMEOUT}}) {
    InternetSetOptionW(handle, option, &value, sizeof(value));
  }
}

HttpResponse Perform(const std::u16string& url, const std::shared_ptr<Exchange>& exchange) {
  const InternetHandle session(InternetOpenW(L"Velmora Update",
                                             INTERNET_OPEN_TYPE_PRECONFIG,  // the system's proxy settings
                                             nullptr,                       // lpszProxy
                                             nullptr,                       // lpszProxyBypass
                                             0));                           // dwFlags: synchronous
  if (!session) return {};
  LimitEachStep(session.Get(), MillisecondsLeft(exchange->Deadline()));

  const win32::UrlRequest request = win32::OpenUrl(session.Get(), url, {},
                                                   INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                                       INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_COOKIES |
                                                       INTERNET_FLAG_NO_UI,
                                                   PauseWhileAsking(exchange));
  if (!request) return {};

  DWORD status = 0;
  DWORD statusSize = sizeof(status);
  if (!HttpQueryInfoW(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusSize,
                      nullptr) ||
      status == 0) {
    return {};
  }
  // A proxy's demand for credentials that the run could not meet: the status is the answer (its
  // body, the proxy's page, is of no use, and a tunnel's refusal may not even say where it ends).
  if (status == HTTP_STATUS_PROXY_AUTH_REQ) {
    HttpResponse response;
    response.status = static_cast<std::int32_t>(status);
    return response;
  }

  std::string body;
  const auto piece = std::make_unique<char[]>(kReadPieceSize);
  for (;;) {
    const DWORD left = MillisecondsLeft(exchange->Deadline());
    if (left == 0) return {};
    LimitEachStep(request.Get(), left);
    DWORD got = 0;
    if (!InternetReadFile(request.Get(), piece.get(), kReadPieceSize, &got)) return {};
    if (got == 0) break;
    body.append(piece.get(), got);
  }

  HttpResponse response;
  response.status = static_cast<std::int32_t>(status);
  response.body = std::move(body);
  return response;
}

}  // namespace

HttpResponse HttpGet(const std::string& url, std::uint32_t timeoutMs) {
  const std::u16string wideUrl = MultiByteToWide(url, kNarrowCodePage);
  if (wideUrl.empty()) return {};
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);

  auto exchange = std::make_shared<Exchange>();
  exchange->deadline = deadline;
  try {
    std::thread([exchange, wideUrl] {
      HttpResponse response;
      try {
        response = Perform(wideUrl, exchange);
      } catch (const std::exception&) {
        response = {};  // a body too large to hold is no response; nothing leaves the thread
      }
      const std::lock_guard<std::mutex> lock(exchange->mutex);
      exchange->response = std::move(response);
      exchange->done = true;
      exchange->finished.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return {};  // no thread to be had
  }

  std::unique_lock<std::mutex> lock(exchange->mutex);
  while (!exchange->done) {
    if (exchange->waitingForUser) {
      exchange->finished.wait(lock);
    } else if (exchange->finished.wait_until(lock, exchange->deadline) == std::cv_status::timeout &&
               !exchange->done && !exchange->waitingForUser && Clock::now() >= exchange->deadline) {
      return {};
    }
  }
  return std::move(exchange->response);
}

}  // namespace velmora::platform
