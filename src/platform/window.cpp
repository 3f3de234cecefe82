#include "platform/window.h"

#include <algorithm>
#include <charconv>

namespace velmora::platform {

std::vector<int> ResolveColumnWidths(const std::vector<GridColumn>& columns, int clientWidth) {
  int fixed = 0;
  int restColumns = 0;
  for (const GridColumn& column : columns) {
    if (column.width == kRestWidth) {
      ++restColumns;
    } else {
      fixed += std::max(column.width, 0);
    }
  }
  const int rest = std::max(clientWidth - fixed, 0);
  std::vector<int> widths;
  widths.reserve(columns.size());
  bool first = true;
  for (const GridColumn& column : columns) {
    if (column.width != kRestWidth) {
      widths.push_back(std::max(column.width, 0));
      continue;
    }
    const int share = rest / restColumns;
    widths.push_back(first ? share + rest % restColumns : share);
    first = false;
  }
  return widths;
}

std::int32_t ClampProgress(std::int32_t value, std::int32_t minimum, std::int32_t maximum) {
  if (minimum > maximum) std::swap(minimum, maximum);
  return std::clamp(value, minimum, maximum);
}

std::int32_t ProgressFromText(const std::string& text, std::int32_t minimum, std::int32_t maximum) {
  std::size_t start = 0;
  while (start < text.size() && text[start] == ' ') ++start;
  if (start < text.size() && text[start] == '+') ++start;
  std::int64_t value = 0;
  const char* first = text.data() + start;
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(first, last, value);
  if (end == first) return ClampProgress(minimum, minimum, maximum);
  // Out-of-range numbers ("99999999999") are clamped like any other large value.
  if (error == std::errc::result_out_of_range) value = (*first == '-') ? INT32_MIN : INT32_MAX;
  value = std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX);
  return ClampProgress(static_cast<std::int32_t>(value), minimum, maximum);
}

Rect CentredOnScreen(int width, int height, int screenWidth, int screenHeight) {
  return Rect{(screenWidth - width) / 2, (screenHeight - height) / 2, width, height};
}

}  // namespace velmora::platform
