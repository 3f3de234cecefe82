#include "platform/update_window.h"

#include <atomic>

namespace velmora::platform {
namespace {

std::atomic<UpdateWindow*> replacement{nullptr};

}  // namespace

UpdateWindow& CurrentUpdateWindow() {
  UpdateWindow* window = replacement.load(std::memory_order_acquire);
  return window != nullptr ? *window : PlatformUpdateWindow();
}

void ReplaceUpdateWindow(UpdateWindow* window) { replacement.store(window, std::memory_order_release); }

}  // namespace velmora::platform
