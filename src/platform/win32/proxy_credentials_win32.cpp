// Proxy credentials with WinINet: the credential dialog's owner, and OpenUrl (win32/url_request.h),
// which every request of the Win32 layer is opened with.
#include "platform/proxy_credentials.h"

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <optional>
#include <utility>
#include <vector>

#include "platform/proxy_credential_gate.h"
#include "platform/win32/url_request.h"

namespace velmora::platform {
namespace {

// The window that owns the credential dialog; null while none may be shown.
std::atomic<HWND> dialogOwner{nullptr};

constexpr DWORD kDialogFlags =
    FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_GENERATE_DATA | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS;

// A text option of a request (the proxy's user name or password); false when it cannot be read.
bool QueryTextOption(HINTERNET request, DWORD option, std::u16string& text) {
  std::vector<wchar_t> buffer(256);
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));  // in bytes
    if (InternetQueryOptionW(request, option, buffer.data(), &size)) {
      buffer.back() = L'\0';
      const std::wstring value(buffer.data());
      text.assign(value.begin(), value.end());
      SecureZeroMemory(buffer.data(), buffer.size() * sizeof(wchar_t));
      return true;
    }
    // Too small: `size` now holds the bytes needed.
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size / sizeof(wchar_t) < buffer.size()) break;
    SecureZeroMemory(buffer.data(), buffer.size() * sizeof(wchar_t));
    buffer.assign(size / sizeof(wchar_t) + 1, L'\0');
  }
  SecureZeroMemory(buffer.data(), buffer.size() * sizeof(wchar_t));
  return false;
}

// Shows the system's proxy-credential dialog for `request` (answered 407) on this thread; what the
// user entered, or nothing when the dialog was cancelled or could not be shown.
std::optional<ProxyCredentials> AskUser(HINTERNET request) {
  const HWND owner = dialogOwner.load();
  if (owner == nullptr || !IsWindow(owner)) return std::nullopt;
  // The dialog runs on this thread, its owner on the window's: with their input shared, the dialog
  // takes the owner's place as the active window, keyboard focus and all.
  const DWORD ownerThread = GetWindowThreadProcessId(owner, nullptr);
  const DWORD thisThread = GetCurrentThreadId();
  const bool attached = ownerThread != 0 && ownerThread != thisThread &&
                        AttachThreadInput(thisThread, ownerThread, TRUE) != FALSE;
  const DWORD result = InternetErrorDlg(owner,                              // hWnd: the dialog's owner
                                        request,                            // hRequest: the 407 answer
                                        ERROR_INTERNET_INCORRECT_PASSWORD,  // dwError
                                        kDialogFlags,                       // store what is entered
                                        nullptr);                           // lppvData
  if (attached) AttachThreadInput(thisThread, ownerThread, FALSE);
  if (result != ERROR_INTERNET_FORCE_RETRY) return std::nullopt;
  ProxyCredentials credentials;
  if (!QueryTextOption(request, INTERNET_OPTION_PROXY_USERNAME, credentials.user) ||
      !QueryTextOption(request, INTERNET_OPTION_PROXY_PASSWORD, credentials.password)) {
    WipeText(credentials.user);
    WipeText(credentials.password);
    return std::nullopt;
  }
  return credentials;
}

// A URL's parts as InternetOpenUrlW takes them apart.
struct UrlParts {
  INTERNET_SCHEME scheme = INTERNET_SCHEME_UNKNOWN;
  std::wstring host;
  INTERNET_PORT port = 0;
  std::wstring user;
  std::wstring password;
  std::wstring path;  // with the query
};

bool CrackUrl(const std::u16string& url, UrlParts& parts) {
  const std::wstring wide(url.begin(), url.end());
  URL_COMPONENTSW components{};
  components.dwStructSize = sizeof(components);
  // Lengths of 1 ask for pointers into the URL and their lengths.
  components.dwHostNameLength = 1;
  components.dwUserNameLength = 1;
  components.dwPasswordLength = 1;
  components.dwUrlPathLength = 1;
  components.dwExtraInfoLength = 1;
  if (!InternetCrackUrlW(wide.c_str(), static_cast<DWORD>(wide.size()), 0, &components)) return false;
  if (components.nScheme != INTERNET_SCHEME_HTTP && components.nScheme != INTERNET_SCHEME_HTTPS) {
    SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    return false;
  }
  const auto part = [](const wchar_t* text, DWORD length) {
    return text != nullptr ? std::wstring(text, length) : std::wstring();
  };
  parts.scheme = components.nScheme;
  parts.host = part(components.lpszHostName, components.dwHostNameLength);
  parts.port = components.nPort;
  parts.user = part(components.lpszUserName, components.dwUserNameLength);
  parts.password = part(components.lpszPassword, components.dwPasswordLength);
  parts.path = part(components.lpszUrlPath, components.dwUrlPathLength) +
               part(components.lpszExtraInfo, components.dwExtraInfoLength);
  return true;
}

void SetTextOption(HINTERNET request, DWORD option, const std::u16string& text) {
  // The length of a text option is in characters, its terminating zero included.
  InternetSetOptionW(request, option, const_cast<char16_t*>(text.c_str()), static_cast<DWORD>(text.size() + 1));
}

// One request, sent once: with `credentials` set on it when there are any.
win32::UrlRequest OpenOnce(HINTERNET session, const UrlParts& parts, const std::u16string& headers, DWORD flags,
                           const ProxyCredentials* credentials) {
  if (parts.scheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
  HINTERNET connection = InternetConnectW(session,
                                          parts.host.c_str(),                                    // lpszServerName
                                          parts.port,                                            // nServerPort
                                          parts.user.empty() ? nullptr : parts.user.c_str(),     // lpszUserName
                                          parts.password.empty() ? nullptr : parts.password.c_str(),
                                          INTERNET_SERVICE_HTTP,                                 // dwService
                                          flags,                                                 // dwFlags
                                          0);                                                    // dwContext
  if (connection == nullptr) return {};
  const wchar_t* acceptTypes[] = {L"*/*", nullptr};
  HINTERNET request = HttpOpenRequestW(connection,
                                       nullptr,              // lpszVerb: GET
                                       parts.path.c_str(),   // lpszObjectName
                                       nullptr,              // lpszVersion: HTTP/1.1
                                       nullptr,              // lpszReferrer
                                       acceptTypes,          // lplpszAcceptTypes
                                       flags,                // dwFlags
                                       0);                   // dwContext
  if (request == nullptr) {
    const DWORD error = GetLastError();
    InternetCloseHandle(connection);
    SetLastError(error);
    return {};
  }
  win32::UrlRequest opened(connection, request);
  if (credentials != nullptr) {
    SetTextOption(request, INTERNET_OPTION_PROXY_USERNAME, credentials->user);
    SetTextOption(request, INTERNET_OPTION_PROXY_PASSWORD, credentials->password);
  }
  if (!headers.empty()) {
    HttpAddRequestHeadersW(request, reinterpret_cast<const wchar_t*>(headers.data()),
                           static_cast<DWORD>(headers.size()), HTTP_ADDREQ_FLAG_ADD);
  }
  if (!HttpSendRequestW(request, nullptr, 0, nullptr, 0)) {
    opened.Close();  // keeps the send's error
    return {};
  }
  return opened;
}

void Wipe(ProxyCredentialsSnapshot& snapshot) {
  WipeText(snapshot.credentials.user);
  WipeText(snapshot.credentials.password);
}

}  // namespace

void AllowProxyCredentialDialog(WindowHandle owner) {
  dialogOwner.store(reinterpret_cast<HWND>(owner));
  if (owner != 0) ProcessProxyCredentialGate().AllowAsking();
}

namespace win32 {

UrlRequest::UrlRequest(UrlRequest&& other) noexcept
    : connection_(std::exchange(other.connection_, nullptr)), request_(std::exchange(other.request_, nullptr)) {}

UrlRequest& UrlRequest::operator=(UrlRequest&& other) noexcept {
  if (this != &other) {
    Close();
    connection_ = std::exchange(other.connection_, nullptr);
    request_ = std::exchange(other.request_, nullptr);
  }
  return *this;
}

void UrlRequest::Close() {
  if (request_ == nullptr && connection_ == nullptr) return;
  const DWORD error = GetLastError();
  if (request_ != nullptr) InternetCloseHandle(std::exchange(request_, nullptr));
  if (connection_ != nullptr) InternetCloseHandle(std::exchange(connection_, nullptr));
  SetLastError(error);
}

DWORD StatusOf(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) return 0;
  return status;
}

UrlRequest OpenUrl(HINTERNET session, const std::u16string& url, const std::u16string& headers, DWORD flags,
                   const UserWait& wait) {
  UrlParts parts;
  if (!CrackUrl(url, parts)) return {};
  ProxyCredentialGate& gate = ProcessProxyCredentialGate();
  ProxyCredentialsSnapshot sent = gate.Current();
  for (;;) {
    UrlRequest request = OpenOnce(session, parts, headers, flags, sent.generation != 0 ? &sent.credentials : nullptr);
    if (!request || StatusOf(request.Get()) != HTTP_STATUS_PROXY_AUTH_REQ) {
      Wipe(sent);
      return request;
    }
    // The proxy wants (other) credentials: newer ones, the dialog's, or none (the 407 stands).
    std::optional<ProxyCredentialsSnapshot> next;
    if (wait.began) wait.began();
    try {
      next = gate.AnswerChallenge(sent.generation, [&] { return AskUser(request.Get()); });
    } catch (...) {
      if (wait.ended) wait.ended();
      Wipe(sent);
      throw;
    }
    if (wait.ended) wait.ended();
    Wipe(sent);
    if (!next) return request;
    sent = std::move(*next);
    Wipe(*next);
  }
}

}  // namespace win32
}  // namespace velmora::platform
