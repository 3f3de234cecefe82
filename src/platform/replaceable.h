// A platform service that tests can stand in for.
//
// The program uses the platform's own implementation; a test may install a replacement (not owned;
// it must outlive its use) and install null again to go back. Reading and replacing are
// thread-safe: the check and download threads read while the main thread may replace.
#pragma once

#include <atomic>

namespace velmora::platform {

template <typename Service>
class Replaceable {
 public:
  using PlatformAccessor = Service& (*)();

  explicit constexpr Replaceable(PlatformAccessor platform) : platform_(platform) {}

  Service& Current() const {
    Service* replacement = replacement_.load(std::memory_order_acquire);
    return replacement != nullptr ? *replacement : platform_();
  }

  void Replace(Service* replacement) { replacement_.store(replacement, std::memory_order_release); }

 private:
  PlatformAccessor platform_;
  std::atomic<Service*> replacement_{nullptr};
};

}  // namespace velmora::platform
