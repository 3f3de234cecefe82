#include "platform/window.h"

#include <gtest/gtest.h>

#include "update/update_window.h"

namespace velmora::platform {
namespace {

TEST(ResolveColumnWidths, TheUpdateGridGivesTheRestToTheStatusColumn) {
  const auto& columns = update::UpdateWindowDesign().columns;
  ASSERT_EQ(columns.size(), 8u);
  // 496: the 500-pixel grid less its borders.
  EXPECT_EQ(ResolveColumnWidths(columns, 496), (std::vector<int>{0, 150, 0, 85, 70, 70, 0, 121}));
  EXPECT_EQ(ResolveColumnWidths(columns, 300).back(), 0) << "never negative";
}

TEST(ResolveColumnWidths, SeveralRestColumnsShareAndTheFirstTakesTheOddPixel) {
  const std::vector<GridColumn> columns = {{"a", ColumnAlignment::Left, 10},
                                           {"b", ColumnAlignment::Left, kRestWidth},
                                           {"c", ColumnAlignment::Left, kRestWidth}};
  EXPECT_EQ(ResolveColumnWidths(columns, 41), (std::vector<int>{10, 16, 15}));
}

TEST(Progress, ValuesAndTextsAreClampedIntoTheRange) {
  struct Case {
    std::string text;
    std::int32_t expected;
  };
  const std::vector<Case> cases = {{"42", 42},  {"150", 100}, {"-5", 0},       {"", 0},
                                   {"abc", 0},  {" 7%", 7},   {"+9", 9},       {"99999999999", 100},
                                   {"100", 100}};
  for (const Case& c : cases) EXPECT_EQ(ProgressFromText(c.text, 0, 100), c.expected) << c.text;
  EXPECT_EQ(ClampProgress(50, 100, 0), 50) << "a range given upside down";
  EXPECT_EQ(ClampProgress(-1, 10, 20), 10);
  EXPECT_EQ(ProgressFromText("x", 10, 20), 10);
}

TEST(CentredOnScreen, PlacesTheWindowInTheMiddle) {
  const Rect placed = CentredOnScreen(505, 315, 1280, 800);
  EXPECT_EQ(placed.x, 387);
  EXPECT_EQ(placed.y, 242);
  EXPECT_EQ(placed.width, 505);
  EXPECT_EQ(placed.height, 315);
}

}  // namespace
}  // namespace velmora::platform
