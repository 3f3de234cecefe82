// The update window's grid: a virtual report-style ListView (LVS_OWNERDATA) with one header row,
// typed cells and progress cells drawn as bars. The grid keeps every cell's text itself and the
// ListView asks for what it shows (LVN_GETDISPINFO), so inserting tens of thousands of rows costs
// one item-count change per batch of changes. Used only on the window's thread.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <map>
#include <string>
#include <vector>

#include "platform/pending_window_changes.h"
#include "platform/update_window.h"
#include "platform/window.h"

namespace velmora::platform::win32 {

class Grid {
 public:
  Grid() = default;
  ~Grid();
  Grid(const Grid&) = delete;
  Grid& operator=(const Grid&) = delete;

  // Creates the ListView at `bounds` in `parent` with the columns and row height of `design`.
  bool Create(HWND parent, const WindowDesign& design, HFONT font);
  HWND Handle() const { return list_; }

  // Rows are the grid's: 1 is the first data row. Operations on rows or columns that do not exist
  // are ignored. Changes reach the screen at the next ShowChanges.
  int RowCount() const { return static_cast<int>(rows_.size()); }
  void InsertRow(int position, const std::string& firstCellText);
  void SetCellText(int row, int column, const std::string& text);
  void MakeProgressCell(int row, int column, const ProgressCellSpec& cellSpec);
  void SetProgressValue(int row, int column, std::int32_t value);
  // Tells the ListView about the rows and cells changed since the last call.
  void ShowChanges();

  // LVN_GETDISPINFOW from the ListView: the cell's text (a progress cell's text is its value).
  void OnGetDisplayInfo(NMLVDISPINFOW& info) const;
  // NM_CUSTOMDRAW from the ListView: progress cells are drawn as bars; the result for the dialog.
  LRESULT OnCustomDraw(const NMLVCUSTOMDRAW& draw);

 private:
  struct Row {
    std::vector<std::wstring> texts;           // one per column
    std::map<int, ProgressCellSpec> progress;  // column -> the cell's range and colours
    std::vector<std::int32_t> values;          // progress values, by column (progress cells only)
  };

  bool HasCell(int row, int column) const;
  const ProgressCellSpec* ProgressCell(int item, int column) const;
  void MarkChanged(int item);
  void DrawProgressCell(HDC dc, int item, int column, const ProgressCellSpec& cellSpec) const;
  // Draws a path that its column cuts off with the ellipsis in the middle ("\Bin\...\name.dll"),
  // so that the file's own name stays in sight; false (nothing drawn) for any other cell. The
  // cell's text is unchanged for anyone who reads it.
  bool DrawCutOffPath(HDC dc, int item, int column) const;
  int TextWidth(const std::wstring& text) const;  // in the list's font, in pixels
  // Gives the rest-width columns what the others leave of the client area (again whenever a
  // vertical scroll bar comes or goes), so that no column is cut off.
  void FitRestColumns();

  HWND list_ = nullptr;
  HIMAGELIST rowHeightImages_ = nullptr;
  std::vector<GridColumn> columns_;
  std::vector<Row> rows_;  // one per ListView item, in item order
  int fittedClientWidth_ = -1;
  bool countChanged_ = false;
  int firstChanged_ = -1;  // items changed since ShowChanges, as a range; -1: none
  int lastChanged_ = -1;
};

// The window's grid, button and timer as the target of the pending changes.
class WindowTarget final : public WindowChangeTarget {
 public:
  WindowTarget(HWND window, Grid& grid, HWND button, UINT_PTR timerId)
      : window_(window), grid_(grid), button_(button), timerId_(timerId) {}
  int RowCount() const override { return grid_.RowCount(); }
  void InsertRow(int position, const std::string& firstCellText) override { grid_.InsertRow(position, firstCellText); }
  void SetCellText(int row, int column, const std::string& text) override { grid_.SetCellText(row, column, text); }
  void MakeProgressCell(int row, int column, const ProgressCellSpec& cellSpec) override {
    grid_.MakeProgressCell(row, column, cellSpec);
  }
  void SetProgressValue(int row, int column, std::int32_t value) override {
    grid_.SetProgressValue(row, column, value);
  }
  void EnableButton(bool enabled) override;
  void SetButtonCaption(const std::string& caption) override;
  void SetTimerInterval(std::uint32_t milliseconds) override;

 private:
  HWND window_;
  Grid& grid_;
  HWND button_;
  UINT_PTR timerId_;
};

}  // namespace velmora::platform::win32
