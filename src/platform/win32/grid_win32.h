// The update window's grid: a report-style ListView with one header row, typed cells and progress
// cells drawn as bars. Used only on the window's thread.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <map>
#include <string>
#include <vector>

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
  // are ignored.
  void InsertRow(int position, const std::string& firstCellText);
  void SetCellText(int row, int column, const std::string& text);
  void MakeProgressCell(int row, int column, const ProgressCellSpec& cellSpec);
  void SetProgressValue(int row, int column, std::int32_t value);

  // NM_CUSTOMDRAW from the ListView: progress cells are drawn as bars; the result for the dialog.
  LRESULT OnCustomDraw(const NMLVCUSTOMDRAW& draw);

 private:
  struct RowCells {
    std::map<int, ProgressCellSpec> progress;  // column -> the cell's range and colours
  };

  bool HasCell(int row, int column) const;
  const ProgressCellSpec* ProgressCell(int item, int column) const;
  void SetItemText(int item, int column, const std::string& gbk);
  std::string ItemText(int item, int column) const;
  void DrawProgressCell(HDC dc, int item, int column, const ProgressCellSpec& cellSpec) const;
  // Gives the rest-width columns what the others leave of the client area (again whenever a
  // vertical scroll bar comes or goes), so that no column is cut off.
  void FitRestColumns();

  HWND list_ = nullptr;
  HIMAGELIST rowHeightImages_ = nullptr;
  std::vector<GridColumn> columns_;
  std::vector<RowCells> rows_;  // one per ListView item, in item order
  int fittedClientWidth_ = -1;
};

}  // namespace velmora::platform::win32
