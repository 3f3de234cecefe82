// The update window's operations for any thread: kept as pending changes (lossless, coalescing,
// lock-free) and applied by the window's thread when one message wakes it (window_win32.cpp).
// PostMessage neither waits for the window nor takes a lock of ours; a failed post is retried with
// the next change, and the window also applies what is pending on a timer of its own, so nothing
// is lost even when its queue is full.
#include "platform/update_window.h"

#include <atomic>

#include "platform/win32/window_messages.h"

namespace velmora::platform {
namespace win32 {
namespace {

std::atomic<HWND> target{nullptr};

bool PostWake() {
  const HWND window = target.load();
  return window != nullptr && PostMessageW(window, kApplyChangesMessage, 0, 0) != FALSE;
}

PendingWindowChanges& Changes() {
  static PendingWindowChanges changes(PostWake);
  return changes;
}

}  // namespace

void OpenUpdateWindowChanges(HWND window) {
  target.store(window);
  Changes().Open();
}

void CloseUpdateWindowChanges() {
  target.store(nullptr);
  Changes().Close();
}

std::size_t ApplyUpdateWindowChanges(WindowChangeTarget& windowTarget) { return Changes().Apply(windowTarget); }

bool UpdateWindowOrderedChangesPending() { return Changes().OrderedChangesPending(); }

void ApplyUpdateWindowChangesNowOnItsThread() {
  const HWND window = target.load();
  if (window != nullptr && GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
    SendMessageW(window, kApplyChangesNowMessage, 0, 0);
  }
}

}  // namespace win32

UpdateWindow& PlatformUpdateWindow() { return win32::Changes(); }

}  // namespace velmora::platform
