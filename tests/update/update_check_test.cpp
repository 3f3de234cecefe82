#include "update/update_check.h"

#include "check_doubles.h"
#include "update/fingerprint.h"
#include "update/manifest.h"

namespace velmora::update {
namespace {

using testing::ManifestJson;

class UpdateCheckFlowTest : public testing::UpdateCheckTest {};

TEST_F(UpdateCheckFlowTest, FillsOneRowAndOneRecordPerStaleFileThenEnablesTheButton) {
  WriteProductFile("\\fresh.dll", "fresh");
  ServerAnswers(ManifestJson("App.exe", {
      {"a", Md5Hex("a2"), "\\App.exe"},
      {"f", Md5Hex("fresh"), "\\fresh.dll"},
      {"b", Md5Hex("b2"), "\\Bin\\b.dll"},
      {"c", Md5Hex("c2"), "\\数据\\c.dat"},
  }));

  UpdateCheck();

  const std::string bar = std::to_string(platform::Rgb(135, 210, 0));
  testing::EventLog expected{"button off", "get " + ManifestUrl() + " 90000"};
  const char* paths[] = {"\\App.exe", "\\Bin\\b.dll", "\\数据\\c.dat"};
  for (int row = 1; row <= 3; ++row) {
    const std::string r = std::to_string(row);
    expected.push_back("row " + r + " " + r);
    expected.push_back("text " + r + " 1 " + paths[row - 1]);
    expected.push_back("progress " + r + " 2 0 0..100 bar " + bar);
    expected.push_back("text " + r + " 3 0 KB/s");
    expected.push_back("text " + r + " 7 准备下载");
  }
  expected.push_back("button on");
  EXPECT_EQ(log, expected);

  const state::ProgramState& state = state::State();
  EXPECT_EQ(state.entryCount, 3);
  ASSERT_EQ(state.taskList.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(state.taskList[i].rowNumber, static_cast<std::int32_t>(i + 1));
    EXPECT_EQ(state.taskList[i].workerThread, 0u);
  }
}

TEST_F(UpdateCheckFlowTest, NothingToUpdateEndsTheProgramBehindANotice) {
  WriteProductFile("\\App.exe", "same");
  ServerAnswers(ManifestJson("App.exe", {{"a", Md5Hex("same"), "\\App.exe"}}));

  EXPECT_THROW(UpdateCheck(), testing::ProgramEnded);

  EXPECT_EQ(Notices(), (std::vector<std::string>{"更新失败 / 没有需要更新的文件"}));
  ASSERT_EQ(presenter.shown.size(), 1u);
  EXPECT_EQ(presenter.shown[0].windowTitle, u"Velmora - Update");
  EXPECT_EQ(presenter.shown[0].mainIcon, 0xFFF9);
  EXPECT_EQ(log.back(), "notice 更新失败 / 没有需要更新的文件") << "no row, and the button stays disabled";
  EXPECT_TRUE(state::State().taskList.empty());
}

TEST_F(UpdateCheckFlowTest, AManifestFailureEndsTheProgramWithTheButtonStillDisabled) {
  ServerAnswers("", 0);
  EXPECT_THROW(UpdateCheck(), testing::ProgramEnded);
  EXPECT_EQ(log.front(), "button off");
  EXPECT_EQ(Notices(), (std::vector<std::string>{"获取Update文件列表失败 / 错误代码：UpData数据为空"}));
  EXPECT_EQ(std::count(log.begin(), log.end(), "button on"), 0);
}

}  // namespace
}  // namespace velmora::update
