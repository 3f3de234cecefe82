#include "platform/proxy_credential_gate.h"

#include <utility>

namespace velmora::platform {

void WipeText(std::u16string& text) {
  // Through a volatile pointer, so that the writes are not dropped as dead stores.
  volatile char16_t* characters = text.data();
  for (std::size_t i = 0; i < text.size(); ++i) characters[i] = u'\0';
  text.clear();
}

ProxyCredentialGate::~ProxyCredentialGate() {
  WipeText(current_.credentials.user);
  WipeText(current_.credentials.password);
}

void ProxyCredentialGate::AllowAsking() {
  const std::lock_guard<std::mutex> lock(mutex_);
  allowed_ = true;
}

bool ProxyCredentialGate::AskingAllowed() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return allowed_;
}

ProxyCredentialsSnapshot ProxyCredentialGate::Current() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return current_;
}

std::optional<ProxyCredentialsSnapshot> ProxyCredentialGate::AnswerChallenge(std::uint64_t tried, const Ask& ask) {
  std::unique_lock<std::mutex> lock(mutex_);
  answered_.wait(lock, [&] { return current_.generation > tried || !asking_; });
  if (current_.generation > tried) return current_;
  if (!allowed_ || declined_) return std::nullopt;

  asking_ = true;
  lock.unlock();
  std::optional<ProxyCredentials> answer;
  try {
    answer = ask();
  } catch (...) {
    answer.reset();  // a dialog that could not be shown is a cancel; the gate goes on
  }
  lock.lock();
  asking_ = false;
  if (answer) {
    WipeText(current_.credentials.user);
    WipeText(current_.credentials.password);
    current_.credentials = std::move(*answer);
    ++current_.generation;
  } else {
    declined_ = true;
  }
  answered_.notify_all();
  if (!answer) return std::nullopt;
  return current_;
}

ProxyCredentialGate& ProcessProxyCredentialGate() {
  // Never destroyed: requests on kept threads may still use it while the process ends.
  static ProxyCredentialGate* const gate = new ProxyCredentialGate;
  return *gate;
}

}  // namespace velmora::platform
