// The messages with which any thread hands the update window's operations to the window's
// thread (see platform/update_window.h). Internal to the Win32 layer.
#pragma once

#include <windows.h>

#include <string>

#include "platform/update_window.h"

namespace velmora::platform::win32 {

// Posted to the window. Messages with text or a progress cell carry a heap object in lParam that the
// window's thread takes over and deletes; the others carry plain numbers.
enum UpdateWindowMessage : UINT {
  kInsertRowMessage = WM_APP + 1,   // lParam: RowInsertion*
  kSetCellTextMessage,              // lParam: CellText*
  kMakeProgressCellMessage,         // lParam: ProgressCellMaking*
  kSetProgressValueMessage,         // wParam: PackCell(row, column), lParam: value
  kEnableButtonMessage,             // wParam: 1 enable, 0 disable
  kSetButtonCaptionMessage,         // lParam: std::string* (GBK)
  kSetTimerIntervalMessage,         // wParam: milliseconds, 0 stops
};

struct RowInsertion {
  int position;
  std::string firstCellText;
};

struct CellText {
  int row;
  int column;
  std::string text;
};

struct ProgressCellMaking {
  int row;
  int column;
  ProgressCellSpec cellSpec;
};

inline WPARAM PackCell(int row, int column) {
  return (static_cast<WPARAM>(static_cast<std::uint32_t>(row)) << 32) | static_cast<std::uint32_t>(column);
}
inline int PackedRow(WPARAM packed) { return static_cast<int>(static_cast<std::uint32_t>(packed >> 32)); }
inline int PackedColumn(WPARAM packed) { return static_cast<int>(static_cast<std::uint32_t>(packed & 0xFFFFFFFFu)); }

// The window that receives the operations from now on (nullptr: none; operations are dropped).
// Called on the window's thread when the window has been created and when it is being destroyed.
void SetUpdateWindowTarget(HWND window);

}  // namespace velmora::platform::win32
