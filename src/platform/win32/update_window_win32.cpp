// The update window's operations for any thread: each is posted to the window's thread, which
// owns the window and applies it (window_win32.cpp). PostMessage neither waits for the window nor
// takes a lock of ours, so a thread killed at any point leaves nothing held; a message posted
// after the window has gone is refused and its data freed here.
#include "platform/update_window.h"

#include <atomic>
#include <memory>

#include "platform/win32/window_messages.h"

namespace velmora::platform {
namespace win32 {
namespace {

std::atomic<HWND> target{nullptr};

// Hands `data` to the window's thread; frees it when nobody will receive it.
template <typename Data>
void PostOwned(UINT message, std::unique_ptr<Data> data) {
  const HWND window = target.load(std::memory_order_acquire);
  if (window == nullptr) return;
  if (PostMessageW(window, message, 0, reinterpret_cast<LPARAM>(data.get()))) data.release();
}

void PostNumbers(UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND window = target.load(std::memory_order_acquire);
  if (window != nullptr) PostMessageW(window, message, wParam, lParam);
}

class PostingUpdateWindow final : public UpdateWindow {
 public:
  void InsertRow(int position, const std::string& firstCellText) override {
    PostOwned(kInsertRowMessage, std::make_unique<RowInsertion>(RowInsertion{position, firstCellText}));
  }
  void SetCellText(int row, int column, const std::string& text) override {
    PostOwned(kSetCellTextMessage, std::make_unique<CellText>(CellText{row, column, text}));
  }
  void MakeProgressCell(int row, int column, const ProgressCellSpec& cellSpec) override {
    PostOwned(kMakeProgressCellMessage, std::make_unique<ProgressCellMaking>(ProgressCellMaking{row, column, cellSpec}));
  }
  void SetProgressValue(int row, int column, std::int32_t value) override {
    PostNumbers(kSetProgressValueMessage, PackCell(row, column), static_cast<LPARAM>(value));
  }
  void EnableButton(bool enabled) override { PostNumbers(kEnableButtonMessage, enabled ? 1 : 0, 0); }
  void SetButtonCaption(const std::string& caption) override {
    PostOwned(kSetButtonCaptionMessage, std::make_unique<std::string>(caption));
  }
  void SetTimerInterval(std::uint32_t milliseconds) override {
    PostNumbers(kSetTimerIntervalMessage, milliseconds, 0);
  }
};

}  // namespace

void SetUpdateWindowTarget(HWND window) { target.store(window, std::memory_order_release); }

}  // namespace win32

UpdateWindow& PlatformUpdateWindow() {
  static win32::PostingUpdateWindow window;
  return window;
}

}  // namespace velmora::platform
