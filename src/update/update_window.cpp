#include "update/update_window.h"

#include "text/encoding.h"

namespace velmora::update {
namespace {

using platform::ColumnAlignment;
using platform::GridColumn;

platform::WindowDesign MakeDesign() {
  platform::WindowDesign design;
  design.caption = "Update";
  design.width = 505;
  design.height = 315;
  // 高级表格_更新列表: one header row; the widths 0 keep a column without showing it.
  design.grid = {0, 0, 500, 250};
  design.columns = {
      GridColumn{text::Utf8ToNarrow("序号"), ColumnAlignment::Centre, 0},
      GridColumn{text::Utf8ToNarrow("文件名"), ColumnAlignment::Left, 150},
      GridColumn{text::Utf8ToNarrow("进度"), ColumnAlignment::Left, 0},
      GridColumn{text::Utf8ToNarrow("速度"), ColumnAlignment::Left, 85},
      GridColumn{text::Utf8ToNarrow("文件大小"), ColumnAlignment::Left, 70},
      GridColumn{text::Utf8ToNarrow("已下载"), ColumnAlignment::Left, 70},
      GridColumn{text::Utf8ToNarrow("耗时"), ColumnAlignment::Left, 0},
      GridColumn{text::Utf8ToNarrow("状态"), ColumnAlignment::Left, platform::kRestWidth},
  };
  design.rowHeight = 24;
  // 外形框64 and the button 按钮_开始下载 inside it.
  design.strip = {1, 252, 496, 30};
  design.button = {1, 1, 494, 28};
  design.buttonCaption = text::Utf8ToNarrow("开始下载");
  design.font = platform::FontSpec{text::Utf8ToNarrow("微软雅黑"), -12, 400, platform::kGb2312Charset};
  // 时钟1: stopped until the downloads start it.
  design.timerInterval = 0;
  return design;
}

}  // namespace

const platform::WindowDesign& UpdateWindowDesign() {
  static const platform::WindowDesign design = MakeDesign();
  return design;
}

}  // namespace velmora::update
