#include "platform/clock.h"

#include <atomic>

namespace velmora::platform {
namespace {

std::atomic<TickSource> replacement{nullptr};

}  // namespace

std::uint32_t TickCount() {
  const TickSource clock = replacement.load(std::memory_order_acquire);
  return clock != nullptr ? clock() : SystemTickCount();
}

void ReplaceTickCount(TickSource clock) { replacement.store(clock, std::memory_order_release); }

}  // namespace velmora::platform
