// Display texts of sizes and speeds, the rounding rule, and what one progress report writes.
#include "download/progress.h"

#include <gtest/gtest.h>

#include "download/download_task.h"
#include "download/scripted_http.h"
#include "platform/update_window.h"
#include "state/program_state.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace velmora::download {
namespace {

TEST(RoundHalfAway, HalvesGoAwayFromZeroWithTheNudge) {
  EXPECT_DOUBLE_EQ(RoundHalfAway(1953.125, 1), 1953.1);
  EXPECT_DOUBLE_EQ(RoundHalfAway(1953.15, 1), 1953.2);
  EXPECT_DOUBLE_EQ(RoundHalfAway(2.5, 0), 3.0);
  EXPECT_DOUBLE_EQ(RoundHalfAway(-2.5, 0), -3.0);
  EXPECT_DOUBLE_EQ(RoundHalfAway(2.4999, 0), 2.0);
  // 1.005 is 1.00499999999999989... in binary; the 1e-12 nudge rounds it up as written.
  EXPECT_DOUBLE_EQ(RoundHalfAway(1.005, 2), 1.01);
  EXPECT_DOUBLE_EQ(RoundHalfAway(-1.005, 2), -1.01);
  EXPECT_EQ(RoundHalfAway(0.0, 2), 0.0);
  EXPECT_DOUBLE_EQ(RoundHalfAway(9.5367431640625, 2), 9.54);
}

TEST(FormatSize, EachRangeTakesItsUnitAndTheBoundariesTakeTheLargerOne) {
  const std::pair<double, const char*> cases[] = {
      {0, "0 B"},
      {500, "500 B"},
      {1023, "1023 B"},
      {1023.999, "1024 B"},  // rounded to 2 decimals within its range
      {1024, "1 KB"},
      {1025, "1 KB"},
      {1536, "1.5 KB"},
      {1048575, "1024 KB"},  // 1023.999 KB rounds up to 1024
      {1048576, "1 MB"},
      {10000000, "9.54 MB"},
      {1073741824, "1 GB"},
      {1610612736, "1.5 GB"},
      {1099511627776.0, "1024 GB"},  // 1 TiB stays in GB
      {5000000000.0, "4.66 GB"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(FormatSize(bytes), text) << bytes;
}

TEST(FormatSpeed, TwoDecimalsAndMegabytesFrom1024) {
  EXPECT_EQ(FormatSpeed(0.0f), "0.00 KB/s");
  EXPECT_EQ(FormatSpeed(123.4f), "123.40 KB/s");
  EXPECT_EQ(FormatSpeed(150.0f), "150.00 KB/s");
  EXPECT_EQ(FormatSpeed(1023.99f), "1023.99 KB/s");
  EXPECT_EQ(FormatSpeed(1024.0f), "1.00 MB/s");
  EXPECT_EQ(FormatSpeed(2048.0f), "2.00 MB/s");
  EXPECT_EQ(FormatSpeed(1953.1f), "1.91 MB/s");
}

TEST(ComputeRowProgress, TheDocumentedCases) {
  const RowProgress small = ComputeRowProgress(1536, 1536, 10);
  EXPECT_EQ(small.speed, "150.00 KB/s");
  EXPECT_EQ(small.size, "1.5 KB");
  EXPECT_EQ(small.downloaded, "1.5 KB");
  EXPECT_EQ(small.percent, 100);
  EXPECT_TRUE(small.complete);

  const RowProgress partway = ComputeRowProgress(10000000, 4000000, 2000);
  EXPECT_EQ(partway.speed, "1.91 MB/s");
  EXPECT_EQ(partway.size, "9.54 MB");
  EXPECT_EQ(partway.downloaded, "3.81 MB");
  EXPECT_EQ(partway.percent, 40);
  EXPECT_EQ(partway.elapsed, "2000") << "plain milliseconds";
  EXPECT_FALSE(partway.complete);

  EXPECT_EQ(ComputeRowProgress(10000, 9999, 10).percent, 99) << "99.99% is truncated";
  EXPECT_EQ(ComputeRowProgress(std::int64_t{3} << 31, std::int64_t{3} << 30, 1000).percent, 50);
}

// Every window operation as a line, to check what one report writes and in which order.
class CellLog final : public platform::UpdateWindow {
 public:
  std::vector<std::string> lines;
  void InsertRow(int, const std::string&) override {}
  void SetCellText(int row, int column, const std::string& text) override {
    lines.push_back(std::to_string(row) + ":" + std::to_string(column) + " " + text::NarrowToUtf8(text));
  }
  void MakeProgressCell(int, int, const platform::ProgressCellSpec&) override {}
  void SetProgressValue(int row, int column, std::int32_t value) override {
    lines.push_back(std::to_string(row) + ":" + std::to_string(column) + " =" + std::to_string(value));
  }
  void EnableButton(bool) override {}
  void SetButtonCaption(const std::string&) override {}
  void SetTimerInterval(std::uint32_t) override {}
};

class ReportProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state::ResetState();
    state::State().taskList.resize(2);
    platform::ReplaceUpdateWindow(&window);
    platform::ReplaceStreamingHttp(&http);
  }
  void TearDown() override {
    platform::ReplaceStreamingHttp(nullptr);
    platform::ReplaceUpdateWindow(nullptr);
    state::ResetState();
  }

  CellLog window;
  testing::ScriptedHttp http;
  velmora::testing::TempDir directory;
};

TEST_F(ReportProgressTest, EveryChunkRewritesTheRowAndLeavesSuccessToTheWorker) {
  http.answer.contentLength = 1536;
  http.answer.pieces = {std::string(1024, 'a'), std::string(512, 'b')};
  DownloadTask& task = state::State().taskList[1].task;
  EXPECT_EQ(task.Download("http://127.0.0.1/x", directory.NarrowPath("x"), ReportProgress, 0, false, 2),
            DownloadResult::Ok);

  ASSERT_EQ(window.lines.size(), 12u);
  EXPECT_EQ(window.lines[0], "2:2 =66");
  EXPECT_EQ(window.lines[2], "2:4 1.5 KB");
  EXPECT_EQ(window.lines[3], "2:5 1 KB");
  EXPECT_EQ(window.lines[5], "2:7 下载中");
  EXPECT_EQ(window.lines[6], "2:2 =100");
  EXPECT_EQ(window.lines[9], "2:5 1.5 KB");
  EXPECT_EQ(window.lines[11], "2:7 下载中") << "the file is not in place yet";
  EXPECT_EQ(state::State().counters.succeeded.load(), 0);
}

TEST_F(ReportProgressTest, RowsThatDoNotExistAreIgnored) {
  ReportProgress(1, 1, 10, 1, 0);
  ReportProgress(1, 1, 10, 1, 3);
  ReportProgress(1, 1, 10, 1, 1);  // row 1 has not started: no length yet
  EXPECT_TRUE(window.lines.empty());
  EXPECT_EQ(state::State().counters.succeeded.load(), 0);
}

}  // namespace
}  // namespace velmora::download
