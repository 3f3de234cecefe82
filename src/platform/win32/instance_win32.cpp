// The single-instance guard's system on Windows: named events, the Toolhelp process list, the
// z-order of top-level windows and activation across threads.
#include "platform/instance.h"

#include <windows.h>

#include "platform/codepage.h"
#include "platform/processes.h"

namespace velmora::platform {
namespace {

constexpr std::uint32_t kNarrowCodePage = 936;
constexpr DWORD kEventAllAccess = 0x1F0003;  // EVENT_ALL_ACCESS
constexpr std::int32_t kOneYearMs = 31'536'000;

HWND AsWindow(WindowHandle window) { return reinterpret_cast<HWND>(window); }

std::wstring Wide(const std::string& gbk) {
  const std::u16string wide = MultiByteToWide(gbk, kNarrowCodePage);
  return std::wstring(wide.begin(), wide.end());
}

void PumpPendingMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

class SystemInstanceServices final : public InstanceServices {
 public:
  // Event names are passed as the wide form of the GBK text, so a Chinese run directory gives the
  // same name whatever the system's code page.
  bool NamedEventExists(const std::string& name) override {
    HANDLE event = OpenEventW(kEventAllAccess, FALSE, Wide(name).c_str());
    if (event == nullptr) return false;
    CloseHandle(event);
    return true;
  }

  bool CreateNamedEvent(const std::string& name) override {
    // Deliberately never closed: the open handle is what marks this copy as running.
    return CreateEventW(nullptr,   // lpEventAttributes
                        FALSE,     // bManualReset: auto-reset
                        FALSE,     // bInitialState: not signalled
                        Wide(name).c_str()) != nullptr;
  }

  void ShowMessageBox(const std::string& text, const std::string& caption, std::uint32_t style) override {
    MessageBoxW(nullptr, Wide(text).c_str(), Wide(caption).c_str(), style);
  }

  std::string ExecutablePath() override { return platform::ExecutablePath(); }
  std::uint32_t CurrentProcessId() override { return GetCurrentProcessId(); }

  std::uint32_t FindProcessByName(const std::string& exeFileName, std::uint32_t excludedProcessId) override {
    return platform::FindProcessByName(exeFileName, excludedProcessId);
  }

  WindowHandle FindTopWindowOfProcess(std::uint32_t processId, std::int32_t timeLimitMs, bool visibleOnly) override {
    const DWORD limit = static_cast<DWORD>(timeLimitMs < 0 ? kOneYearMs : timeLimitMs);
    const DWORD start = GetTickCount();
    HWND window = nullptr;
    for (;;) {
      if (GetTickCount() - start >= limit) return 0;
      window = FindWindowExW(nullptr, window, nullptr, nullptr);
      if (window == nullptr) return 0;
      if (visibleOnly && !::IsWindowVisible(window)) continue;
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      if (owner == processId && GetParent(window) == nullptr) return reinterpret_cast<WindowHandle>(window);
      PumpPendingMessages();
    }
  }

  bool IsWindowVisible(WindowHandle window) override { return ::IsWindowVisible(AsWindow(window)) != FALSE; }

  void ShowWindowInPlace(WindowHandle window) override {
    SetWindowPos(AsWindow(window), HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
  }

  bool IsMinimised(WindowHandle window) override { return IsIconic(AsWindow(window)) != FALSE; }
  void RestoreWindow(WindowHandle window) override { OpenIcon(AsWindow(window)); }

  bool ActivateWindow(WindowHandle window) override {
    const HWND target = AsWindow(window);
    const DWORD windowThread = GetWindowThreadProcessId(target, nullptr);
    const DWORD currentThread = GetCurrentThreadId();
    AttachThreadInput(windowThread, currentThread, TRUE);
    const bool activated = SetActiveWindow(target) != nullptr;
    AttachThreadInput(windowThread, currentThread, FALSE);
    return activated;
  }

  void EndProcess(std::uint32_t exitCode) override { TerminateProcessWithCode(0, exitCode); }
};

}  // namespace

InstanceServices& PlatformInstanceServices() {
  static SystemInstanceServices services;
  return services;
}

}  // namespace velmora::platform
