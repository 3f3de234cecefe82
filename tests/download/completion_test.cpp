// The completion check's outcomes with a stand-in clock of ticks: the three notices, the launch,
// and a time limit that counts only the ticks in which nothing arrived.
#include "download/completion.h"

#include <gtest/gtest.h>

#include "download/download_task.h"
#include "download/scheduler.h"
#include "platform/thread.h"
#include "download/run_doubles.h"
#include "download/progress.h"
#include "update/staging_files.h"

namespace velmora::download {
namespace {

using testing::launches;
using update::testing::ProgramEnded;

class CompletionTest : public testing::DownloadRunTest {
 public:
  using DownloadRunTest::Serve;
  using DownloadRunTest::runDirectory;

 protected:
  // `count` rows, each with its file staged ("x"), as the workers leave them.
  void Rows(int count) {
    for (int row = 1; row <= count; ++row) {
      ListRow("\\f" + std::to_string(row), "x");
      const state::UpdateEntry& entry = state::State().updateList.back();
      const std::string staging = update::StagingPathOf(runDirectory.Narrow() + entry.path, entry);
      runDirectory.WriteFile(staging.substr(runDirectory.Narrow().size() + 1), "x");
    }
    state::State().launchTarget = text::Utf8ToNarrow("启动.exe");
  }
  // Ticks until the check ends the program; the number of ticks it took.
  int TicksUntilTheEnd(int limit, void (*betweenTicks)(CompletionTest&) = nullptr) {
    for (int tick = 1; tick <= limit; ++tick) {
      if (betweenTicks != nullptr) betweenTicks(*this);
      try {
        CheckCompletion();
      } catch (const ProgramEnded&) {
        return tick;
      }
    }
    return 0;
  }
};

TEST_F(CompletionTest, AFullSuccessOffersTheProductAndOkStartsItElevated) {
  Rows(3);
  state::State().counters.succeeded.store(3);
  EXPECT_EQ(TicksUntilTheEnd(1), 1);
  EXPECT_EQ(Notices(), (std::vector<std::string>{"更新完成 / [确定]运行软件 [取消]退出更新"}));
  EXPECT_EQ(launches, (std::vector<std::string>{text::NarrowToUtf8(runDirectory.Narrow()) + "\\启动.exe|"}));
  // The release went in before the notice.
  for (const char* file : {"\\f1", "\\f2", "\\f3"}) EXPECT_EQ(ProductBytes(file), "x") << file;
  // The timer stops before the notice, and the caption says so.
  const auto timer = std::find(log.begin(), log.end(), "timer 0");
  const auto notice = std::find_if(log.begin(), log.end(), [](const std::string& e) { return e.rfind("notice", 0) == 0; });
  EXPECT_LT(timer, notice);
  EXPECT_NE(std::find(log.begin(), log.end(), "caption 更新完成"), log.end());
  ASSERT_EQ(presenter.shown.size(), 1u);
  EXPECT_EQ(update::testing::RecordingPresenter::Utf8(presenter.shown[0].windowTitle), "Velmora - Update");
  // A tick that was already queued when the run began to end commits nothing and shows nothing.
  EXPECT_NO_THROW(CheckCompletion());
  EXPECT_EQ(Notices().size(), 1u);
}

TEST_F(CompletionTest, AfterTheWindowIsClosedNothingIsShown) {
  Rows(1);
  state::State().counters.succeeded.store(1);
  RequestStop();
  EXPECT_EQ(TicksUntilTheEnd(3), 0);
  EXPECT_TRUE(Notices().empty());
  EXPECT_NE(std::find(log.begin(), log.end(), "timer 0"), log.end());
  StartDownloads([](std::int32_t) { state::State().counters.running.fetch_sub(1); });  // a new run starts afresh
  EXPECT_FALSE(StopRequested());
  platform::WaitForThread(state::State().taskList[0].workerThread, 5000);
}

TEST_F(CompletionTest, CancelEndsWithoutStartingAnything) {
  Rows(2);
  presenter.button = 2;
  state::State().counters.succeeded.store(2);
  EXPECT_EQ(TicksUntilTheEnd(1), 1);
  EXPECT_TRUE(launches.empty());
}

TEST_F(CompletionTest, ARowWhoseFileCannotGoInFailsTheWholeRelease) {
  Rows(3);
  WriteProductFile("\\f1", "old 1");
  WriteProductFile("\\f3", "old 3");
  // Row 2's staged file went missing after its row had ended: nothing of the release goes in.
  const state::UpdateEntry& second = state::State().updateList[1];
  std::filesystem::remove(velmora::testing::PathFromNarrow(update::StagingPathOf(runDirectory.Narrow() + second.path, second)));
  state::State().counters.succeeded.store(3);
  EXPECT_EQ(TicksUntilTheEnd(1), 1);
  EXPECT_EQ(Notices(), (std::vector<std::string>{"更新完成 / 有1个文件下载失败"}));
  EXPECT_EQ(Texts(2, kStatusColumn).back(), "不能打开本地文件");
  EXPECT_EQ(ProductBytes("\\f1"), "old 1");
  EXPECT_EQ(ProductBytes("\\f3"), "old 3");
  EXPECT_EQ(StagedBytes(1), "x") << "kept for the next run";
  EXPECT_EQ(state::State().counters.failed.load(), 1);
  EXPECT_TRUE(launches.empty());
}

TEST_F(CompletionTest, FailedRowsAreCountedInTheNoticeAndNothingStarts) {
  Rows(3);
  state::State().counters.succeeded.store(2);
  state::State().counters.failed.store(1);
  EXPECT_EQ(TicksUntilTheEnd(1), 1);
  EXPECT_EQ(Notices(), (std::vector<std::string>{"更新完成 / 有1个文件下载失败"}));
  EXPECT_TRUE(launches.empty());
}

TEST_F(CompletionTest, RowsThatNeverEndTimeOutAfter120StalledTicksPerFile) {
  Rows(2);
  state::State().counters.succeeded.store(1);
  EXPECT_EQ(TicksUntilTheEnd(1000), 240);
  EXPECT_EQ(Notices(), (std::vector<std::string>{"更新失败 / 更新失败，连接超时"}));
  EXPECT_EQ(state::State().counters.checkTicks.load(), 0);
}

TEST_F(CompletionTest, ADownloadThatKeepsArrivingIsNeverCutOff) {
  Rows(1);
  // 1 KiB arrives before each of 500 ticks (a quarter of an hour's worth of slow download), then
  // nothing: only the stalled ticks count.
  static int arrivals = 0;
  arrivals = 0;
  const int ticks = TicksUntilTheEnd(1000, [](CompletionTest& test) {
    if (arrivals++ >= 500) return;
    test.Serve(std::string(1024, 'x'));
    state::State().taskList[0].task.Download("http://127.0.0.1/f", test.runDirectory.NarrowPath("part"), nullptr, 0,
                                            false, 1);
  });
  EXPECT_EQ(ticks, 500 + 120);
  EXPECT_EQ(Notices(), (std::vector<std::string>{"更新失败 / 更新失败，连接超时"}));
}

}  // namespace
}  // namespace velmora::download
