// Opening a URL with WinINet through the system's proxy, answering a proxy that asks for
// credentials (platform/proxy_credentials.h). Internal to the Win32 layer: the http client and the
// streamed requests open every request with OpenUrl.
//
// OpenUrl does what InternetOpenUrlW does for http and https (InternetCrackUrlW, InternetConnectW,
// HttpOpenRequestW with "*/*", HttpAddRequestHeadersW, HttpSendRequestW), with one step more: the
// run's proxy credentials, once there are any, are set on each request before it is sent
// (INTERNET_OPTION_PROXY_USERNAME and _PASSWORD), so that WinINet answers the proxy's challenge
// itself, for a CONNECT tunnel (https) as for a plain http request. A request that still ends with
// 407 goes to the process's ProxyCredentialGate: the credential dialog (InternetErrorDlg with
// ERROR_INTERNET_INCORRECT_PASSWORD, which stores what the user enters in the request, from where
// it is read back), or the answer of a dialog shown on another thread; with credentials the request
// is made again, as a new request (Wine's WinINet would send a repeated one on the proxy's
// connection without a new CONNECT); without, the 407 answer is the result.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <functional>
#include <string>

namespace velmora::platform::win32 {

// A request opened from a URL: its connection handle and its request handle, closed together
// (the request first; closing the connection first would end the request).
class UrlRequest {
 public:
  UrlRequest() = default;
  UrlRequest(HINTERNET connection, HINTERNET request) : connection_(connection), request_(request) {}
  UrlRequest(UrlRequest&& other) noexcept;
  UrlRequest& operator=(UrlRequest&& other) noexcept;
  ~UrlRequest() { Close(); }
  UrlRequest(const UrlRequest&) = delete;
  UrlRequest& operator=(const UrlRequest&) = delete;

  HINTERNET Get() const { return request_; }
  explicit operator bool() const { return request_ != nullptr; }
  // Closes both handles (keeping the thread's last error); nothing when there are none.
  void Close();

 private:
  HINTERNET connection_ = nullptr;
  HINTERNET request_ = nullptr;
};

// Told when the calling thread begins and ends waiting for the user (the credential dialog, shown
// on this thread or on another one), so that the caller's time limits can leave that time out.
struct UserWait {
  std::function<void()> began;
  std::function<void()> ended;
};

// Opens `url` (http or https) on the internet session `session` with the header block `headers`
// (may be empty) and the request flags, answering a proxy's 407 as described at the top. Empty
// when the request could not be made (an invalid address, no connection, a refused certificate);
// the thread's last error then says why. Otherwise the response's headers have arrived: its status
// (407 when the proxy's demand was not met) and its body are read from the request.
UrlRequest OpenUrl(HINTERNET session, const std::u16string& url, const std::u16string& headers, DWORD flags,
                   const UserWait& wait);

// The response's status code; 0 when it cannot be read.
DWORD StatusOf(HINTERNET request);

}  // namespace velmora::platform::win32
