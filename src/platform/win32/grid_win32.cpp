#include "platform/win32/grid_win32.h"

#include <algorithm>
#include <cwchar>

#include "platform/codepage.h"

namespace velmora::platform::win32 {
namespace {

constexpr std::uint32_t kNarrowCodePage = 936;
constexpr int kBarMargin = 3;
// The space a list keeps between a cell's edge and its text.
constexpr int kCellTextMargin = 6;

std::wstring Wide(const std::string& gbk) {
  const std::u16string wide = MultiByteToWide(gbk, kNarrowCodePage);
  return std::wstring(wide.begin(), wide.end());
}

int FormatOf(ColumnAlignment alignment) {
  switch (alignment) {
    case ColumnAlignment::Centre: return LVCFMT_CENTER;
    case ColumnAlignment::Right: return LVCFMT_RIGHT;
    case ColumnAlignment::Left: break;
  }
  return LVCFMT_LEFT;
}

COLORREF ColourOr(std::uint32_t colour, int systemColour) {
  return colour == kDefaultColour ? GetSysColor(systemColour) : static_cast<COLORREF>(colour & 0x00FFFFFF);
}

void Fill(HDC dc, const RECT& rect, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &rect, brush);
  DeleteObject(brush);
}

}  // namespace

Grid::~Grid() {
  if (rowHeightImages_ != nullptr) ImageList_Destroy(rowHeightImages_);
}

bool Grid::Create(HWND parent, const WindowDesign& design, HFONT font) {
  columns_ = design.columns;
  list_ = CreateWindowExW(0, WC_LISTVIEWW, L"",
                          WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS |
                              LVS_SINGLESEL | LVS_NOSORTHEADER | LVS_OWNERDATA,
                          design.grid.x, design.grid.y, design.grid.width, design.grid.height, parent,
                          nullptr,                       // hMenu: no control id needed
                          GetModuleHandleW(nullptr), nullptr);
  if (list_ == nullptr) return false;
  if (font != nullptr) SendMessageW(list_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER);

  // A ListView's rows are as high as its small images, plus one pixel for the grid lines: an
  // image list of 1 x (rowHeight - 1) sets the row height without showing anything (the first
  // column, where an image would go, has no width).
  rowHeightImages_ = ImageList_Create(1, std::max(design.rowHeight - 1, 1), ILC_COLOR32, 1, 0);
  if (rowHeightImages_ != nullptr) ListView_SetImageList(list_, rowHeightImages_, LVSIL_SMALL);

  // A ListView keeps its first column left-aligned whatever it is asked. A column inserted first
  // and deleted again after the others leaves the real first column with its own alignment.
  LVCOLUMNW placeholder{};
  placeholder.mask = LVCF_WIDTH;
  SendMessageW(list_, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&placeholder));
  for (std::size_t index = 0; index < columns_.size(); ++index) {
    std::wstring header = Wide(columns_[index].header);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    column.fmt = FormatOf(columns_[index].alignment);
    column.cx = std::max(columns_[index].width, 0);
    column.pszText = header.data();
    SendMessageW(list_, LVM_INSERTCOLUMNW, index + 1, reinterpret_cast<LPARAM>(&column));
  }
  SendMessageW(list_, LVM_DELETECOLUMN, 0, 0);
  FitRestColumns();
  return true;
}

void Grid::FitRestColumns() {
  RECT client{};
  GetClientRect(list_, &client);
  const int clientWidth = static_cast<int>(client.right - client.left);
  if (clientWidth == fittedClientWidth_) return;
  fittedClientWidth_ = clientWidth;
  const std::vector<int> widths = ResolveColumnWidths(columns_, clientWidth);
  for (std::size_t index = 0; index < columns_.size(); ++index) {
    if (columns_[index].width == kRestWidth) ListView_SetColumnWidth(list_, static_cast<int>(index), widths[index]);
  }
}

bool Grid::HasCell(int row, int column) const {
  return row >= 1 && static_cast<std::size_t>(row) <= rows_.size() && column >= 0 &&
         static_cast<std::size_t>(column) < columns_.size();
}

const ProgressCellSpec* Grid::ProgressCell(int item, int column) const {
  if (item < 0 || static_cast<std::size_t>(item) >= rows_.size()) return nullptr;
  const auto& progress = rows_[static_cast<std::size_t>(item)].progress;
  const auto found = progress.find(column);
  return found == progress.end() ? nullptr : &found->second;
}

void Grid::MarkChanged(int item) {
  firstChanged_ = firstChanged_ < 0 ? item : std::min(firstChanged_, item);
  lastChanged_ = std::max(lastChanged_, item);
}

void Grid::InsertRow(int position, const std::string& firstCellText) {
  const int count = static_cast<int>(rows_.size());
  const int item = std::clamp(position - 1, 0, count);
  Row row;
  row.texts.resize(columns_.size());
  row.values.resize(columns_.size(), 0);
  if (!row.texts.empty()) row.texts[0] = Wide(firstCellText);
  rows_.insert(rows_.begin() + item, std::move(row));
  countChanged_ = true;
  // Every row from the inserted one on shows something else now.
  MarkChanged(item);
  MarkChanged(count);
}

void Grid::SetCellText(int row, int column, const std::string& text) {
  if (!HasCell(row, column)) return;
  if (const ProgressCellSpec* cellSpec = ProgressCell(row - 1, column)) {
    // A progress cell's text is its value, kept clamped.
    SetProgressValue(row, column, ProgressFromText(text, cellSpec->minimum, cellSpec->maximum));
    return;
  }
  rows_[static_cast<std::size_t>(row - 1)].texts[static_cast<std::size_t>(column)] = Wide(text);
  MarkChanged(row - 1);
}

void Grid::MakeProgressCell(int row, int column, const ProgressCellSpec& cellSpec) {
  if (!HasCell(row, column)) return;
  rows_[static_cast<std::size_t>(row - 1)].progress[column] = cellSpec;
  SetProgressValue(row, column, cellSpec.value);
}

void Grid::SetProgressValue(int row, int column, std::int32_t value) {
  if (!HasCell(row, column)) return;
  const ProgressCellSpec* cellSpec = ProgressCell(row - 1, column);
  if (cellSpec == nullptr) return;
  Row& cells = rows_[static_cast<std::size_t>(row - 1)];
  const std::int32_t clamped = ClampProgress(value, cellSpec->minimum, cellSpec->maximum);
  cells.values[static_cast<std::size_t>(column)] = clamped;
  cells.texts[static_cast<std::size_t>(column)] = std::to_wstring(clamped);
  MarkChanged(row - 1);
}

void Grid::ShowChanges() {
  if (countChanged_) {
    ListView_SetItemCountEx(list_, static_cast<int>(rows_.size()), LVSICF_NOSCROLL);
    countChanged_ = false;
    FitRestColumns();
  }
  if (firstChanged_ >= 0) {
    const int last = std::min(lastChanged_, static_cast<int>(rows_.size()) - 1);
    if (last >= firstChanged_) ListView_RedrawItems(list_, firstChanged_, last);
    firstChanged_ = lastChanged_ = -1;
  }
}

void Grid::OnGetDisplayInfo(NMLVDISPINFOW& info) const {
  LVITEMW& item = info.item;
  if ((item.mask & LVIF_TEXT) == 0 || item.pszText == nullptr || item.cchTextMax <= 0) return;
  item.pszText[0] = L'\0';
  if (item.iItem < 0 || static_cast<std::size_t>(item.iItem) >= rows_.size()) return;
  const Row& row = rows_[static_cast<std::size_t>(item.iItem)];
  if (item.iSubItem < 0 || static_cast<std::size_t>(item.iSubItem) >= row.texts.size()) return;
  const std::wstring& text = row.texts[static_cast<std::size_t>(item.iSubItem)];
  const std::size_t length = std::min(text.size(), static_cast<std::size_t>(item.cchTextMax - 1));
  std::wmemcpy(item.pszText, text.data(), length);
  item.pszText[length] = L'\0';
}

void Grid::DrawProgressCell(HDC dc, int item, int column, const ProgressCellSpec& cellSpec) const {
  RECT cell{};
  ListView_GetSubItemRect(list_, item, column, column == 0 ? LVIR_LABEL : LVIR_BOUNDS, &cell);
  if (cell.right <= cell.left) return;  // a column without width shows nothing
  Fill(dc, cell, ColourOr(cellSpec.backgroundColour, COLOR_WINDOW));

  RECT bar = cell;
  InflateRect(&bar, -kBarMargin, -kBarMargin);
  if (bar.right <= bar.left || bar.bottom <= bar.top) return;
  Fill(dc, bar, ColourOr(cellSpec.trackColour, COLOR_BTNFACE));

  const std::int32_t low = std::min(cellSpec.minimum, cellSpec.maximum);
  const std::int32_t high = std::max(cellSpec.minimum, cellSpec.maximum);
  const std::int32_t value = rows_[static_cast<std::size_t>(item)].values[static_cast<std::size_t>(column)];
  if (high > low) {
    const long long span = static_cast<long long>(high) - low;
    const long long inner = bar.right - bar.left;
    RECT filled = bar;
    filled.right = bar.left + static_cast<LONG>(inner * (static_cast<long long>(value) - low) / span);
    if (filled.right > filled.left) Fill(dc, filled, ColourOr(cellSpec.barColour, COLOR_HIGHLIGHT));
  }
  HBRUSH frame = CreateSolidBrush(ColourOr(cellSpec.frameColour, COLOR_BTNSHADOW));
  FrameRect(dc, &bar, frame);
  DeleteObject(frame);
}

int Grid::TextWidth(const std::wstring& text) const {
  return static_cast<int>(SendMessageW(list_, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

bool Grid::DrawCutOffPath(HDC dc, int item, int column) const {
  if (item < 0 || static_cast<std::size_t>(item) >= rows_.size()) return false;
  const Row& row = rows_[static_cast<std::size_t>(item)];
  if (column < 0 || static_cast<std::size_t>(column) >= row.texts.size()) return false;
  const std::wstring& text = row.texts[static_cast<std::size_t>(column)];
  if (text.find(L'\\') == std::wstring::npos) return false;
  RECT cell{};
  ListView_GetSubItemRect(list_, item, column, column == 0 ? LVIR_LABEL : LVIR_BOUNDS, &cell);
  RECT inner = cell;
  inner.left += kCellTextMargin;
  inner.right -= kCellTextMargin;
  if (inner.right <= inner.left || TextWidth(text) <= inner.right - inner.left) {
    return false;
  }
  const bool selected = GetFocus() == list_ && ListView_GetItemState(list_, item, LVIS_SELECTED) != 0;
  Fill(dc, cell, GetSysColor(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &inner,
            DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_PATH_ELLIPSIS);
  return true;
}

LRESULT Grid::OnCustomDraw(const NMLVCUSTOMDRAW& draw) {
  switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
      return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
      return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
      const int item = static_cast<int>(draw.nmcd.dwItemSpec);
      const ProgressCellSpec* cellSpec = ProgressCell(item, draw.iSubItem);
      if (cellSpec == nullptr) {
        return DrawCutOffPath(draw.nmcd.hdc, item, draw.iSubItem) ? CDRF_SKIPDEFAULT : CDRF_DODEFAULT;
      }
      // The value stays the cell's text (automation reads it like any other cell) but is shown
      // only as the bar.
      DrawProgressCell(draw.nmcd.hdc, item, draw.iSubItem, *cellSpec);
      return CDRF_SKIPDEFAULT;
    }
    default:
      return CDRF_DODEFAULT;
  }
}

void WindowTarget::EnableButton(bool enabled) { EnableWindow(button_, enabled ? TRUE : FALSE); }

void WindowTarget::SetButtonCaption(const std::string& caption) { SetWindowTextW(button_, Wide(caption).c_str()); }

void WindowTarget::SetTimerInterval(std::uint32_t milliseconds) {
  if (milliseconds == 0) {
    KillTimer(window_, timerId_);
  } else {
    SetTimer(window_, timerId_, milliseconds, nullptr);
  }
}

}  // namespace velmora::platform::win32
