// Automation of windows in this or another process. Window texts come with WM_GETTEXT, which the
// system carries across processes; the ListView and header messages take pointers, so their
// records and text buffers are placed in memory lent in the target process (VirtualAllocEx) and
// read back with ReadProcessMemory.
#include "automation/window_automation.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>

#include "platform/codepage.h"

namespace velmora::platform::automation {
namespace {

constexpr int kTextCapacity = 512;  // characters per cell or header text read

HWND AsWindow(WindowHandle window) { return reinterpret_cast<HWND>(window); }
WindowHandle AsHandle(HWND window) { return reinterpret_cast<WindowHandle>(window); }

std::string Utf8(const std::wstring& wide) {
  return WideToMultiByte(std::u16string(wide.begin(), wide.end()), 65001);
}

std::wstring WideFromUtf8(const std::string& utf8) {
  const std::u16string wide = MultiByteToWide(utf8, 65001);
  return std::wstring(wide.begin(), wide.end());
}

std::string WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(std::max(length, 0)) + 1, L'\0');
  const int read = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(std::max(read, 0)));
  return Utf8(text);
}

std::string ClassName(HWND window) {
  wchar_t name[128] = {};
  GetClassNameW(window, name, 128);
  return Utf8(name);
}

Rect ScreenRect(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return Rect{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

// Memory lent in the process that owns a window, freed with the object.
class RemoteMemory {
 public:
  RemoteMemory(HWND window, std::size_t size) : size_(size) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (process_ != nullptr) address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  ~RemoteMemory() {
    if (address_ != nullptr) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    if (process_ != nullptr) CloseHandle(process_);
  }
  RemoteMemory(const RemoteMemory&) = delete;
  RemoteMemory& operator=(const RemoteMemory&) = delete;

  bool ok() const { return address_ != nullptr; }
  char* at(std::size_t offset) const { return static_cast<char*>(address_) + offset; }
  bool Write(std::size_t offset, const void* data, std::size_t size) const {
    return offset + size <= size_ && WriteProcessMemory(process_, at(offset), data, size, nullptr);
  }
  bool Read(std::size_t offset, void* data, std::size_t size) const {
    return offset + size <= size_ && ReadProcessMemory(process_, at(offset), data, size, nullptr);
  }

 private:
  HANDLE process_ = nullptr;
  void* address_ = nullptr;
  std::size_t size_;
};

// Room for a text request: its record first, then the text buffer the record's text pointer is set to.
constexpr std::size_t kRecordRoom = 256;
static_assert(sizeof(LVITEMW) <= kRecordRoom && sizeof(HDITEMW) <= kRecordRoom);

RemoteMemory TextMemory(HWND window) { return RemoteMemory(window, kRecordRoom + kTextCapacity * sizeof(wchar_t)); }

// Sends a message whose lParam points to `record`, copied into `memory` (lent in the window's
// process by TextMemory, and used again for every text of a read: lending memory in another
// process is a round trip through that process under Wine), and reads the text back.
template <typename Record>
std::string RemoteText(const RemoteMemory& memory, HWND window, UINT message, WPARAM wParam, Record record,
                       LPWSTR Record::*textField, int Record::*capacityField) {
  if (!memory.ok()) return {};
  const wchar_t empty = L'\0';
  memory.Write(kRecordRoom, &empty, sizeof(empty));
  record.*textField = reinterpret_cast<LPWSTR>(memory.at(kRecordRoom));
  record.*capacityField = kTextCapacity;
  if (!memory.Write(0, &record, sizeof(record))) return {};
  SendMessageW(window, message, wParam, reinterpret_cast<LPARAM>(memory.at(0)));
  std::wstring text(kTextCapacity, L'\0');
  if (!memory.Read(kRecordRoom, text.data(), text.size() * sizeof(wchar_t))) return {};
  text.resize(wcsnlen(text.c_str(), text.size()));
  return Utf8(text);
}

struct ChildSearch {
  std::vector<HWND> found;
};

BOOL CALLBACK CollectChild(HWND child, LPARAM lParam) {
  reinterpret_cast<ChildSearch*>(lParam)->found.push_back(child);
  return TRUE;
}

std::vector<HWND> Descendants(HWND window) {
  ChildSearch search;
  EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool IsClass(HWND window, const wchar_t* name) {
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  return lstrcmpiW(className, name) == 0;
}

ButtonInfo DescribeButton(HWND button) {
  ButtonInfo info;
  info.handle = AsHandle(button);
  info.id = GetDlgCtrlID(button);
  info.caption = WindowText(button);
  info.enabled = IsWindowEnabled(button) != FALSE;
  const LONG_PTR type = GetWindowLongPtrW(button, GWL_STYLE) & BS_TYPEMASK;
  info.checkBox = type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE;
  if (info.checkBox) info.checked = SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
  info.bounds = ScreenRect(button);
  return info;
}

bool IsPushButton(HWND window) {
  if (!IsClass(window, L"Button")) return false;
  const LONG_PTR type = GetWindowLongPtrW(window, GWL_STYLE) & BS_TYPEMASK;
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON || type == BS_COMMANDLINK ||
         type == BS_DEFCOMMANDLINK;
}

ColumnAlignment AlignmentOf(int format) {
  switch (format & HDF_JUSTIFYMASK) {
    case HDF_CENTER: return ColumnAlignment::Centre;
    case HDF_RIGHT: return ColumnAlignment::Right;
    default: return ColumnAlignment::Left;
  }
}

}  // namespace

std::vector<WindowHandle> FindTopWindows(const std::string& title, std::uint32_t processId) {
  const std::wstring wanted = WideFromUtf8(title);
  std::vector<WindowHandle> found;
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, nullptr, wanted.c_str())) != nullptr) {
    if (!IsWindowVisible(window)) continue;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (processId == 0 || owner == processId) found.push_back(AsHandle(window));
  }
  return found;
}

WindowHandle FindTopWindow(const std::string& title, std::uint32_t processId) {
  const std::vector<WindowHandle> found = FindTopWindows(title, processId);
  return found.empty() ? 0 : found.front();
}

std::optional<WindowInfo> DescribeWindow(WindowHandle handle) {
  const HWND window = AsWindow(handle);
  if (!IsWindow(window)) return std::nullopt;
  WindowInfo info;
  info.handle = handle;
  DWORD processId = 0;
  const DWORD thread = GetWindowThreadProcessId(window, &processId);
  info.processId = processId;
  info.title = WindowText(window);
  info.className = ClassName(window);
  info.frame = ScreenRect(window);
  RECT client{};
  GetClientRect(window, &client);
  info.clientWidth = client.right - client.left;
  info.clientHeight = client.bottom - client.top;
  info.visible = IsWindowVisible(window) != FALSE;
  info.minimised = IsIconic(window) != FALSE;
  info.enabled = IsWindowEnabled(window) != FALSE;
  info.foreground = GetForegroundWindow() == window;
  GUITHREADINFO gui{};
  gui.cbSize = sizeof(gui);
  info.active = GetGUIThreadInfo(thread, &gui) && gui.hwndActive == window;
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  info.hasMinimiseBox = (style & WS_MINIMIZEBOX) != 0;
  info.hasMaximiseBox = (style & WS_MAXIMIZEBOX) != 0;
  info.resizable = (style & WS_THICKFRAME) != 0;
  info.hasOwner = GetWindow(window, GW_OWNER) != nullptr;
  info.screenWidth = GetSystemMetrics(SM_CXSCREEN);
  info.screenHeight = GetSystemMetrics(SM_CYSCREEN);
  return info;
}

std::optional<GridInfo> ReadGrid(WindowHandle handle, int firstRow, int maxRows) {
  HWND list = nullptr;
  for (HWND child : Descendants(AsWindow(handle))) {
    if (IsClass(child, WC_LISTVIEWW)) {
      list = child;
      break;
    }
  }
  if (list == nullptr) return std::nullopt;
  GridInfo grid;
  grid.handle = AsHandle(list);
  RECT bounds{};
  GetWindowRect(list, &bounds);
  MapWindowPoints(nullptr, GetParent(list), reinterpret_cast<POINT*>(&bounds), 2);
  grid.bounds = Rect{bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top};
  RECT client{};
  GetClientRect(list, &client);
  grid.clientWidth = client.right - client.left;

  const auto header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
  const auto columnCount = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
  const RemoteMemory headerMemory = TextMemory(header);
  for (int column = 0; column < columnCount; ++column) {
    ColumnInfo info;
    HDITEMW item{};
    item.mask = HDI_TEXT | HDI_FORMAT;
    info.header = RemoteText(headerMemory, header, HDM_GETITEMW, static_cast<WPARAM>(column), item,
                             &HDITEMW::pszText, &HDITEMW::cchTextMax);
    // The format comes back in the record; read it with a second, text-free request.
    RemoteMemory memory(header, sizeof(HDITEMW));
    HDITEMW formatOnly{};
    formatOnly.mask = HDI_FORMAT;
    if (memory.ok() && memory.Write(0, &formatOnly, sizeof(formatOnly)) &&
        SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(memory.at(0))) &&
        memory.Read(0, &formatOnly, sizeof(formatOnly))) {
      info.alignment = AlignmentOf(formatOnly.fmt);
    }
    info.width = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
    grid.columns.push_back(info);
  }

  const auto rowCount = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  grid.rowCount = rowCount;
  grid.firstRow = std::max(firstRow, 0);
  const int endRow = maxRows < 0 ? rowCount : std::min(rowCount, grid.firstRow + maxRows);
  const RemoteMemory cellMemory = TextMemory(list);
  for (int row = grid.firstRow; row < endRow; ++row) {
    std::vector<std::string> cells;
    for (int column = 0; column < columnCount; ++column) {
      LVITEMW item{};
      item.iSubItem = column;
      cells.push_back(RemoteText(cellMemory, list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), item,
                                 &LVITEMW::pszText, &LVITEMW::cchTextMax));
    }
    grid.rows.push_back(std::move(cells));
  }
  if (rowCount > 0) {
    // LVM_GETITEMRECT takes the rectangle's kind in its left field.
    RemoteMemory memory(list, sizeof(RECT));
    RECT rect{};
    rect.left = LVIR_BOUNDS;
    if (memory.ok() && memory.Write(0, &rect, sizeof(rect)) &&
        SendMessageW(list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(memory.at(0))) &&
        memory.Read(0, &rect, sizeof(rect))) {
      grid.rowHeight = rect.bottom - rect.top;
    }
  }
  return grid;
}

std::optional<ButtonInfo> ReadButton(WindowHandle handle) {
  for (HWND child : Descendants(AsWindow(handle))) {
    if (IsPushButton(child)) return DescribeButton(child);
  }
  return std::nullopt;
}

std::optional<TaskDialogInfo> ReadTaskDialog(WindowHandle handle) {
  std::optional<WindowInfo> window = DescribeWindow(handle);
  if (!window) return std::nullopt;
  TaskDialogInfo dialog;
  dialog.window = *window;

  struct PlacedText {
    LONG top;
    LONG left;
    std::string text;
  };
  std::vector<PlacedText> texts;
  std::vector<ButtonInfo> checkBoxes;
  for (HWND child : Descendants(AsWindow(handle))) {
    if (!IsWindowVisible(child)) continue;
    if (IsPushButton(child)) {
      dialog.buttons.push_back(DescribeButton(child));
    } else if (IsClass(child, L"Button")) {
      checkBoxes.push_back(DescribeButton(child));
    } else if (IsClass(child, L"Static")) {
      const LONG_PTR type = GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK;
      if (type == SS_ICON || type == SS_BITMAP) continue;
      const Rect bounds = ScreenRect(child);
      texts.push_back(PlacedText{bounds.y, bounds.x, WindowText(child)});
    }
  }
  std::sort(texts.begin(), texts.end(),
            [](const PlacedText& a, const PlacedText& b) { return a.top != b.top ? a.top < b.top : a.left < b.left; });
  for (const PlacedText& placed : texts) dialog.texts.push_back(placed.text);
  // The bold main instruction stands above the content.
  if (!dialog.texts.empty()) dialog.mainInstruction = dialog.texts[0];
  if (dialog.texts.size() > 1) dialog.content = dialog.texts[1];
  dialog.buttons.insert(dialog.buttons.end(), checkBoxes.begin(), checkBoxes.end());
  return dialog;
}

bool PressButton(WindowHandle button) {
  const HWND window = AsWindow(button);
  return IsWindow(window) && PostMessageW(window, BM_CLICK, 0, 0) != FALSE;
}

bool ClickAt(int x, int y) {
  // Absolute mouse coordinates run from 0 to 65535 across the primary screen.
  const int width = std::max(GetSystemMetrics(SM_CXSCREEN) - 1, 1);
  const int height = std::max(GetSystemMetrics(SM_CYSCREEN) - 1, 1);
  INPUT inputs[3] = {};
  for (INPUT& input : inputs) {
    input.type = INPUT_MOUSE;
    input.mi.dx = x * 65535 / width;
    input.mi.dy = y * 65535 / height;
  }
  inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE;
  inputs[2].mi.dwFlags = MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE;
  return SendInput(3, inputs, sizeof(INPUT)) == 3;
}

bool MinimiseWindow(WindowHandle window) {
  return PostMessageW(AsWindow(window), WM_SYSCOMMAND, SC_MINIMIZE, 0) != FALSE;
}

bool CloseWindow(WindowHandle window) { return PostMessageW(AsWindow(window), WM_CLOSE, 0, 0) != FALSE; }

bool SetGridColumnWidth(WindowHandle window, int column, int width) {
  const std::optional<GridInfo> grid = ReadGrid(window);
  if (!grid) return false;
  return SendMessageW(AsWindow(grid->handle), LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), MAKELPARAM(width, 0)) != 0;
}

}  // namespace velmora::platform::automation
