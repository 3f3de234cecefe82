// A quiet run's downloads with the server, the disk's held files and the launch replaced: the same
// workers and commit as with the window, ending in an outcome instead of a notice.
#include "download/unattended_run.h"

#include <gtest/gtest.h>

#include "download/run_doubles.h"
#include "platform/release_services.h"
#include "support/held_files.h"

namespace velmora::download {
namespace {

using update::RunOutcome;

class UnattendedRunTest : public testing::DownloadRunTest {
 protected:
  void SetUp() override {
    DownloadRunTest::SetUp();
    state::State().mode.quiet = true;
    state::State().mode.closeProduct = false;
    state::State().launchTarget = "App.exe";
  }
  void TearDown() override {
    platform::ReplaceReleaseServices(nullptr);
    DownloadRunTest::TearDown();
  }
};

TEST_F(UnattendedRunTest, EveryRowFetchedAndCheckedPutsTheReleaseInPlaceWithoutANotice) {
  WriteProductFile("\\App.exe", "old");
  ListRow("\\App.exe", "same");
  ListRow("\\b.dll", "same");
  Serve("same");
  const RunEnd end = RunUnattendedDownloads();
  EXPECT_EQ(end.outcome, RunOutcome::Updated);
  EXPECT_FALSE(end.timedOut);
  EXPECT_EQ(ProductBytes("\\App.exe"), "same");
  EXPECT_EQ(Notices(), std::vector<std::string>{});
  EXPECT_TRUE(testing::launches.empty()) << "a quiet run starts the product only when asked";
  // The runners write their rows' lines in batches: every one is there before the commit's.
  const std::string logText = ProductBytes("\\Bin\\Config\\update.log");
  ASSERT_NE(logText.find(" commit: "), std::string::npos);
  EXPECT_LT(logText.find("row 1 \\App.exe: "), logText.find(" commit: "));
  EXPECT_LT(logText.find("row 2 \\b.dll: "), logText.find(" commit: "));
}

TEST_F(UnattendedRunTest, AFileThatDoesNotMatchInstallsNothing) {
  WriteProductFile("\\App.exe", "old");
  ListRow("\\App.exe", "new");
  ListRow("\\b.dll", "other");
  Serve("new");  // b.dll's digest never matches
  const RunEnd end = RunUnattendedDownloads();
  EXPECT_EQ(end.outcome, RunOutcome::FilesFailed);
  EXPECT_EQ(end.failedRows, 1);
  EXPECT_EQ(ProductBytes("\\App.exe"), "old");
}

TEST_F(UnattendedRunTest, AFileTheProductHoldsIsFetchedButTheReleaseWaitsAndNothingIsEnded) {
  WriteProductFile("\\App.exe", "old");
  ListRow("\\App.exe", "new");
  ListRow("\\b.dll", "new");
  Serve("new");
  const std::string app = runDirectory.Narrow() + "\\App.exe";
  const std::string appPosix = runDirectory.Narrow() + "/App.exe";
  velmora::testing::HeldFiles held([&](const std::string& path) { return path == app || path == appPosix; });
  platform::ReplaceReleaseServices(&held);
  const RunEnd end = RunUnattendedDownloads();
  EXPECT_EQ(end.outcome, RunOutcome::Deferred);
  EXPECT_EQ(ProductBytes("\\App.exe"), "old");
  EXPECT_EQ(StagedBytes(1), "new") << "the held file's verified download waits for the next run";
  EXPECT_EQ(StagedBytes(2), "new");
  for (const std::string& status : Texts(1, 7)) {
    EXPECT_EQ(status.find("文件被占用"), std::string::npos) << "no attempt at freeing it: " << status;
  }
}

TEST_F(UnattendedRunTest, WithCloseProductAHeldFileFailsItsRowAsWithTheWindow) {
  state::State().mode.closeProduct = true;
  WriteProductFile("\\App.exe", "old");
  ListRow("\\App.exe", "new");
  Serve("new");
  velmora::testing::HeldFiles held([](const std::string&) { return true; });
  platform::ReplaceReleaseServices(&held);
  const RunEnd end = RunUnattendedDownloads();
  EXPECT_EQ(end.outcome, RunOutcome::FilesFailed);
  EXPECT_EQ(ProductBytes("\\App.exe"), "old");
}

}  // namespace
}  // namespace velmora::download
