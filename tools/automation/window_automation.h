// Reading and driving windows from outside, as an automation tool does: the update window, its
// grid and button, and task dialogs, in this process or in another one. Used by the tests (the
// UI probe and the Windows unit tests), never by the program itself. Texts are UTF-8.
//
// Windows reads other processes' controls through memory lent in the target process
// (VirtualAllocEx), so everything here works across processes. The POSIX layer has no windows:
// every search finds nothing and every action fails.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/window.h"

namespace velmora::platform::automation {

struct WindowInfo {
  WindowHandle handle = 0;
  std::uint32_t processId = 0;
  std::string title;
  std::string className;
  Rect frame;  // outer rectangle, screen coordinates
  int clientWidth = 0;
  int clientHeight = 0;
  bool visible = false;
  bool minimised = false;
  bool enabled = false;
  bool foreground = false;  // the system's foreground window
  bool active = false;      // the active window of its own thread
  bool hasMinimiseBox = false;
  bool hasMaximiseBox = false;
  bool resizable = false;
  bool hasOwner = false;
  int screenWidth = 0;
  int screenHeight = 0;
};

struct ColumnInfo {
  std::string header;
  int width = 0;
  ColumnAlignment alignment = ColumnAlignment::Left;
};

struct GridInfo {
  WindowHandle handle = 0;
  Rect bounds;  // in the parent window's client coordinates
  int clientWidth = 0;
  int rowHeight = 0;  // 0 when the grid has no row
  std::vector<ColumnInfo> columns;
  int rowCount = 0;                            // rows in the grid
  int firstRow = 0;                            // the 0-based index of rows[0]
  std::vector<std::vector<std::string>> rows;  // item texts; progress cells hold their value
};

struct ButtonInfo {
  WindowHandle handle = 0;
  int id = 0;
  std::string caption;
  bool enabled = false;
  bool checkBox = false;
  bool checked = false;
  Rect bounds;  // screen coordinates
};

struct TaskDialogInfo {
  WindowInfo window;
  std::string mainInstruction;
  std::string content;
  std::vector<std::string> texts;  // every text of the dialog, top to bottom
  std::vector<ButtonInfo> buttons;  // push buttons, then the verification check box, if any
};

// The first visible top-level window titled `title` (of `processId` unless 0), or 0.
WindowHandle FindTopWindow(const std::string& title, std::uint32_t processId = 0);
// Every visible top-level window titled `title` (of `processId` unless 0), in z-order.
std::vector<WindowHandle> FindTopWindows(const std::string& title, std::uint32_t processId = 0);
std::optional<WindowInfo> DescribeWindow(WindowHandle window);

// The first ListView among the window's descendants.
// Reads `maxRows` rows from `firstRow` on (0-based; -1: all): reading a cell costs one round trip
// to the window, so a long grid is best read in parts.
std::optional<GridInfo> ReadGrid(WindowHandle window, int firstRow = 0, int maxRows = -1);
// The first push button among the window's descendants.
std::optional<ButtonInfo> ReadButton(WindowHandle window);
std::optional<TaskDialogInfo> ReadTaskDialog(WindowHandle dialog);

// Posts BM_CLICK to the button (a disabled button ignores it, as it ignores the mouse).
bool PressButton(WindowHandle button);
// A real mouse click (SendInput) at a screen position.
bool ClickAt(int x, int y);
bool MinimiseWindow(WindowHandle window);
bool CloseWindow(WindowHandle window);  // WM_CLOSE, as the close box does
bool SetGridColumnWidth(WindowHandle window, int column, int width);

}  // namespace velmora::platform::automation
