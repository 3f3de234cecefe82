// Task dialogs (TaskDialogIndirect of the common controls, version 6).
//
// The request carries UTF-16 texts, already converted by the caller, so that the platform layer
// decides nothing about code pages.
#pragma once

#include <cstdint>
#include <string>

#include "platform/handles.h"

namespace velmora::platform {

// TASKDIALOG_FLAGS and TASKDIALOG_COMMON_BUTTON_FLAGS values used by the program.
inline constexpr std::uint32_t kTdfPositionRelativeToWindow = 0x1000;  // TDF_POSITION_RELATIVE_TO_WINDOW
inline constexpr std::uint32_t kTdfNoDefaultRadioButton = 0x4000;      // TDF_NO_DEFAULT_RADIO_BUTTON
inline constexpr std::uint32_t kTdcbfOkButton = 0x0001;                // TDCBF_OK_BUTTON
inline constexpr std::uint32_t kTdcbfYesButton = 0x0002;               // TDCBF_YES_BUTTON
inline constexpr std::uint32_t kTdcbfNoButton = 0x0004;                // TDCBF_NO_BUTTON
inline constexpr std::uint32_t kTdcbfCancelButton = 0x0008;            // TDCBF_CANCEL_BUTTON

struct TaskDialogRequest {
  WindowHandle owner = 0;  // 0: no owner, the system centres the dialog
  std::uint32_t flags = 0;
  std::uint32_t commonButtons = 0;
  std::uint16_t mainIcon = 0;  // a predefined icon resource number (0xFFFD is TD_INFORMATION_ICON)
  std::u16string windowTitle;
  std::u16string mainInstruction;
  std::u16string content;
  bool verification = false;  // show a verification check box with `verificationText`
  std::u16string verificationText;
};

struct TaskDialogResult {
  std::int32_t button = -1;  // IDOK, IDCANCEL, IDYES, IDNO ...; -1 when nothing was shown
  bool verificationChecked = false;
};

// Shows a dialog modally on the calling thread and waits until it is closed.
class TaskDialogPresenter {
 public:
  virtual ~TaskDialogPresenter() = default;
  virtual TaskDialogResult Show(const TaskDialogRequest& request) = 0;
};

// The platform's presenter (TaskDialogIndirect on Windows; the POSIX layer shows nothing and
// returns -1) unless a test has replaced it. Thread-safe; presenting blocks only the caller.
TaskDialogPresenter& CurrentTaskDialogPresenter();

// Tests: `presenter` (not owned) serves CurrentTaskDialogPresenter; null restores the platform's.
void ReplaceTaskDialogPresenter(TaskDialogPresenter* presenter);

TaskDialogPresenter& PlatformTaskDialogPresenter();

}  // namespace velmora::platform
