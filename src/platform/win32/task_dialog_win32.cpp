// Task dialogs with TaskDialogIndirect. The function exists only in version 6 of the common
// controls, which the program's manifest selects; it is looked up at run time so that a program
// without that manifest (the unit tests) still loads, and then simply shows nothing.
#include "platform/task_dialog.h"

#include <windows.h>
#include <commctrl.h>

#include "platform/win32/window_messages.h"

namespace velmora::platform {
namespace {

using TaskDialogIndirectFunction = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

TaskDialogIndirectFunction FindTaskDialogIndirect() {
  HMODULE commonControls = GetModuleHandleW(L"comctl32.dll");
  if (commonControls == nullptr) commonControls = LoadLibraryW(L"comctl32.dll");
  if (commonControls == nullptr) return nullptr;
  return reinterpret_cast<TaskDialogIndirectFunction>(
      reinterpret_cast<void*>(GetProcAddress(commonControls, "TaskDialogIndirect")));
}

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

class SystemTaskDialogs final : public TaskDialogPresenter {
 public:
  TaskDialogResult Show(const TaskDialogRequest& request) override {
    TaskDialogResult result;
    const TaskDialogIndirectFunction taskDialogIndirect = FindTaskDialogIndirect();
    if (taskDialogIndirect == nullptr) return result;

    // The grid shows the run's end before a notice about it opens (its cells are otherwise
    // applied at most every 60 ms).
    win32::ApplyUpdateWindowChangesNowOnItsThread();

    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof(config);
    config.hwndParent = reinterpret_cast<HWND>(request.owner);
    config.hInstance = nullptr;
    config.dwFlags = static_cast<TASKDIALOG_FLAGS>(request.flags);
    config.dwCommonButtons = static_cast<TASKDIALOG_COMMON_BUTTON_FLAGS>(request.commonButtons);
    config.pszWindowTitle = Wide(request.windowTitle);
    config.pszMainIcon = MAKEINTRESOURCEW(request.mainIcon);
    config.pszMainInstruction = Wide(request.mainInstruction);
    config.pszContent = Wide(request.content);
    config.nDefaultButton = 0;
    if (request.verification) config.pszVerificationText = Wide(request.verificationText);

    int button = 0;
    BOOL checked = FALSE;
    if (FAILED(taskDialogIndirect(&config, &button, nullptr, request.verification ? &checked : nullptr))) {
      return result;
    }
    if (button != 0) result.button = button;
    result.verificationChecked = checked != FALSE;
    return result;
  }
};

}  // namespace

TaskDialogPresenter& PlatformTaskDialogPresenter() {
  static SystemTaskDialogs presenter;
  return presenter;
}

}  // namespace velmora::platform
