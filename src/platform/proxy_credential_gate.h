// The run's proxy credentials and who may ask the user for them: portable, so that the waiting of
// several threads for one dialog is tested natively. The Win32 layer's requests use one gate
// (ProcessProxyCredentialGate) and supply the dialog; see platform/proxy_credentials.h.
//
// Credentials have a generation: 0 before any were entered, one more for each answer of the
// user. A request remembers the generation it was sent with; when a proxy still answers 407, the
// request hands that generation to AnswerChallenge, which tells newer credentials (another thread
// got them meanwhile) from ones the proxy has just refused (ask the user again).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace velmora::platform {

// A user name and password as WinINet takes them (UTF-16).
struct ProxyCredentials {
  std::u16string user;
  std::u16string password;
};

// The credentials as one request takes them, with their generation (0: none yet, both texts empty).
struct ProxyCredentialsSnapshot {
  std::uint64_t generation = 0;
  ProxyCredentials credentials;
};

// Overwrites a text's characters before it is let go, so that a password does not linger in
// freed memory longer than needed.
void WipeText(std::u16string& text);

class ProxyCredentialGate {
 public:
  // Shows the dialog on the calling thread; the credentials entered, or nothing when the user
  // cancelled (or no dialog could be shown).
  using Ask = std::function<std::optional<ProxyCredentials>()>;

  ProxyCredentialGate() = default;
  ~ProxyCredentialGate();
  ProxyCredentialGate(const ProxyCredentialGate&) = delete;
  ProxyCredentialGate& operator=(const ProxyCredentialGate&) = delete;

  // Whether AnswerChallenge may ask the user (false until allowed). Thread-safe.
  void AllowAsking();
  bool AskingAllowed() const;

  // The newest credentials, to be sent with a new request. Thread-safe.
  ProxyCredentialsSnapshot Current() const;

  // A request sent with the credentials of generation `tried` was answered 407. Returns the
  // credentials to send it again with, or nothing: the request ends with its 407.
  // - Credentials newer than `tried` are returned at once.
  // - While another thread asks the user, this one waits for that answer and takes it.
  // - Otherwise, when asking is allowed and the user has not cancelled a dialog before in this
  //   run, `ask` is called on this thread (never on two threads at once, and without the gate's
  //   lock): what it returns becomes the next generation; a cancel ends this request and every
  //   later challenge without asking again.
  std::optional<ProxyCredentialsSnapshot> AnswerChallenge(std::uint64_t tried, const Ask& ask);

 private:
  mutable std::mutex mutex_;
  std::condition_variable answered_;
  bool allowed_ = false;
  bool asking_ = false;
  bool declined_ = false;
  ProxyCredentialsSnapshot current_;
};

// The gate of the process, shared by every request. Thread-safe.
ProxyCredentialGate& ProcessProxyCredentialGate();

}  // namespace velmora::platform
