// The POSIX layer has no windows to find or drive.
#include "automation/window_automation.h"

namespace velmora::platform::automation {

WindowHandle FindTopWindow(const std::string&, std::uint32_t) { return 0; }
std::vector<WindowHandle> FindTopWindows(const std::string&, std::uint32_t) { return {}; }
std::optional<WindowInfo> DescribeWindow(WindowHandle) { return std::nullopt; }
std::optional<GridInfo> ReadGrid(WindowHandle, int, int) { return std::nullopt; }
std::optional<ButtonInfo> ReadButton(WindowHandle) { return std::nullopt; }
std::optional<TaskDialogInfo> ReadTaskDialog(WindowHandle) { return std::nullopt; }
bool PressButton(WindowHandle) { return false; }
bool ClickAt(int, int) { return false; }
bool MinimiseWindow(WindowHandle) { return false; }
bool CloseWindow(WindowHandle) { return false; }
bool SetGridColumnWidth(WindowHandle, int, int) { return false; }

}  // namespace velmora::platform::automation
