// The real update window (Windows only: elsewhere it cannot be created and the test is skipped),
// changed from other threads while its own thread runs it modally.
#include "platform/update_window.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

#include "platform/thread.h"
#include "platform/window.h"
#include "automation/window_automation.h"
#include "text/encoding.h"
#include "update/update_window.h"

namespace velmora::platform {
namespace {

using automation::ButtonInfo;
using automation::GridInfo;

std::optional<GridInfo> WaitForCell(WindowHandle window, int item, int column, const std::string& utf8) {
  for (int attempt = 0; attempt < 250; ++attempt) {
    std::optional<GridInfo> grid = automation::ReadGrid(window);
    if (grid && grid->rows.size() > static_cast<std::size_t>(item) && grid->rows[item][column] == utf8) return grid;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return automation::ReadGrid(window);
}

TEST(UpdateWindow, OperationsFromOtherThreadsReachTheWindowAndAKilledThreadHangsNothing) {
  std::optional<GridInfo> grid;
  std::optional<ButtonInfo> button;
  bool killed = false;
  WindowEvents events;
  events.created = [&](WindowHandle window) {
    StartThread([&, window] {
      UpdateWindow& operations = PlatformUpdateWindow();
      operations.InsertRow(1, "1");
      operations.InsertRow(99, "3");  // past the end: appended
      operations.InsertRow(2, "2");
      operations.SetCellText(1, 1, "\\Bin\\App.exe");
      operations.SetCellText(2, 7, text::Utf8ToNarrow("准备下载"));
      ProgressCellSpec overfull;
      overfull.value = 150;  // clamped to 100
      operations.MakeProgressCell(1, 2, overfull);
      operations.MakeProgressCell(2, 2, ProgressCellSpec{});
      operations.SetProgressValue(2, 2, 57);
      operations.SetProgressValue(3, 3, 57);  // not a progress cell: ignored
      operations.SetCellText(3, 2, "text");
      operations.SetCellText(9, 1, "no such row");
      operations.EnableButton(false);
      operations.SetButtonCaption(text::Utf8ToNarrow("正在下载"));
      operations.SetTimerInterval(500);
      operations.SetTimerInterval(0);

      // A worker killed in the middle of posting (progress values carry no allocation, so the
      // thread holds nothing when it dies).
      const ThreadHandle worker = StartThread([] {
        for (std::int32_t value = 0;; value = (value + 1) % 100) PlatformUpdateWindow().SetProgressValue(2, 2, value);
      });
      WaitForThread(worker, 200);
      killed = ForceTerminateThread(worker);
      operations.SetCellText(3, 7, "after");
      grid = WaitForCell(window, 2, 7, "after");
      button = automation::ReadButton(window);
      automation::CloseWindow(window);
    });
  };
  if (!ShowModalWindow(update::UpdateWindowDesign(), events)) GTEST_SKIP() << "no window system here";

  EXPECT_TRUE(killed);
  ASSERT_TRUE(grid);
  ASSERT_EQ(grid->rows.size(), 3u);
  EXPECT_EQ(grid->rows[0][0], "1");
  EXPECT_EQ(grid->rows[1][0], "2");
  EXPECT_EQ(grid->rows[2][0], "3");
  EXPECT_EQ(grid->rows[0][1], "\\Bin\\App.exe");
  EXPECT_EQ(grid->rows[1][7], "准备下载");
  EXPECT_EQ(grid->rows[0][2], "100");
  EXPECT_EQ(grid->rows[2][2], "text");
  EXPECT_EQ(grid->rows[2][3], "");
  EXPECT_EQ(grid->rows[2][7], "after") << "the window still works after the kill";
  EXPECT_EQ(grid->rowHeight, 24);
  ASSERT_TRUE(button);
  EXPECT_FALSE(button->enabled);
  EXPECT_EQ(button->caption, "正在下载");
}

TEST(UpdateWindow, OperationsWithoutAWindowAreDropped) {
  UpdateWindow& operations = PlatformUpdateWindow();
  operations.InsertRow(1, "1");
  operations.SetCellText(1, 1, "x");
  operations.SetProgressValue(1, 2, 5);
  operations.EnableButton(true);
  SUCCEED();
}

}  // namespace
}  // namespace velmora::platform
