// What the single-instance guard needs from the system: named events, the process list, top-level
// windows and their activation, a message box and the end of the process. An interface, so that
// the guard's decisions can be tested with a fake system.
#pragma once

#include <cstdint>
#include <string>

#include "platform/handles.h"

namespace velmora::platform {

class InstanceServices {
 public:
  virtual ~InstanceServices() = default;

  // OpenEventA with all access: true when an event of that name exists (another copy runs).
  virtual bool NamedEventExists(const std::string& name) = 0;
  // CreateEventA: auto-reset, not signalled, default security. The handle is never closed: it
  // marks this copy as running until the process ends. False when it cannot be created.
  virtual bool CreateNamedEvent(const std::string& name) = 0;
  // A message box with `text`, `caption` and `style` (MB_* flags); returns when it is closed.
  virtual void ShowMessageBox(const std::string& text, const std::string& caption, std::uint32_t style) = 0;

  // The running executable's full path (GBK); empty on failure.
  virtual std::string ExecutablePath() = 0;
  virtual std::uint32_t CurrentProcessId() = 0;
  // The first process (in the system's order) whose executable file name equals `exeFileName`,
  // ignoring case, other than `excludedProcessId`; 0 when none.
  virtual std::uint32_t FindProcessByName(const std::string& exeFileName, std::uint32_t excludedProcessId) = 0;
  // The first top-level window in z-order that belongs to `processId` and has no parent (visible
  // ones only when `visibleOnly`), searched for at most `timeLimitMs` (negative: a year); 0 when
  // none is found in time. Processes the calling thread's messages while it searches.
  virtual WindowHandle FindTopWindowOfProcess(std::uint32_t processId, std::int32_t timeLimitMs,
                                              bool visibleOnly) = 0;
  virtual bool IsWindowVisible(WindowHandle window) = 0;
  // Shows the window where it is, above all windows that are not topmost.
  virtual void ShowWindowInPlace(WindowHandle window) = 0;
  virtual bool IsMinimised(WindowHandle window) = 0;
  virtual void RestoreWindow(WindowHandle window) = 0;
  // Makes the window (of any thread or process) the active one; the platform's result.
  virtual bool ActivateWindow(WindowHandle window) = 0;

  // Ends this process with `exitCode`. Does not return on a real system.
  virtual void EndProcess(std::uint32_t exitCode) = 0;
};

// The system's services (Windows; the POSIX layer keeps its named events inside the process and
// finds no other processes or windows).
InstanceServices& PlatformInstanceServices();

}  // namespace velmora::platform
