// velmora-update.exe --rollback with the dialogs and the launch recorded: nothing kept, the user
// declining, and the previous release restored and started.
#include "app/rollback_command.h"

#include <gtest/gtest.h>

#include "download/run_doubles.h"
#include "install/commit.h"
#include "update/fingerprint.h"
#include "update/staging_files.h"

namespace velmora::app {
namespace {

using download::testing::launches;

class RollbackCommandTest : public download::testing::DownloadRunTest {
 protected:
  // An update of Velmora.exe and a file it added, committed so that the old release is kept.
  void UpdateTheProduct() {
    WriteProductFile("\\Velmora.exe", "old exe");
    install::CommitPlan plan;
    plan.launchTarget = "Velmora.exe";
    plan.releaseIdentity = update::Md5Hex("release 2");
    for (const auto& [path, bytes] : {std::pair{"\\Velmora.exe", "new exe"}, {"\\Bin\\added.dll", "added"}}) {
      state::UpdateEntry entry;
      entry.path = path;
      entry.md5 = update::Md5Hex(bytes);
      const std::string staging = update::StagingPathOf(runDirectory.Narrow() + entry.path, entry);
      runDirectory.WriteFile(staging.substr(runDirectory.Narrow().size() + 1), bytes);
      plan.changes.push_back({entry.path, staging, {-1, entry.md5, {}}, {}});
    }
    ASSERT_TRUE(install::Commit(runDirectory.Narrow(), plan).committed);
  }
};

TEST_F(RollbackCommandTest, WithNothingKeptItSaysSoAndChangesNothing) {
  EXPECT_EQ(RunRollback(), 0);
  EXPECT_EQ(Notices(), (std::vector<std::string>{"恢复上一版本 / 没有可恢复的版本"}));
  EXPECT_TRUE(launches.empty());
}

TEST_F(RollbackCommandTest, CancelKeepsTheReleaseAndOkRestoresThePreviousOneAndStartsIt) {
  UpdateTheProduct();
  presenter.button = 2;
  EXPECT_EQ(RunRollback(), 0);
  EXPECT_EQ(Notices(), (std::vector<std::string>{"恢复上一版本 / [确定]恢复到上一版本 [取消]退出"}));
  EXPECT_EQ(ProductBytes("\\Velmora.exe"), "new exe");

  log.clear();
  presenter.button = 1;
  EXPECT_EQ(RunRollback(), 0);
  EXPECT_EQ(Notices(), (std::vector<std::string>{"恢复上一版本 / [确定]恢复到上一版本 [取消]退出",
                                                 "已恢复上一版本 / [确定]运行软件 [取消]退出"}));
  EXPECT_EQ(ProductBytes("\\Velmora.exe"), "old exe");
  EXPECT_FALSE(std::filesystem::exists(Product("\\Bin\\added.dll")));
  EXPECT_EQ(launches, (std::vector<std::string>{text::NarrowToUtf8(runDirectory.Narrow()) + "\\Velmora.exe|"}));

  // Nothing is kept any more.
  log.clear();
  EXPECT_EQ(RunRollback(), 0);
  EXPECT_EQ(Notices(), (std::vector<std::string>{"恢复上一版本 / 没有可恢复的版本"}));
}

}  // namespace
}  // namespace velmora::app
