// The start routine of runs without a person at the screen, and the administrator's switch: what
// each ends with, and that nothing is shown where nobody looks.
#include "app/start_routine.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "app/single_instance.h"
#include "platform/policy.h"
#include "update/fingerprint.h"
#include "download/run_doubles.h"
#include "update/check_doubles.h"

namespace velmora::app {
namespace {

using update::testing::ManifestFile;
using update::testing::ManifestJson;
using update::testing::ProgramEnded;

// Only what the guard needs; ending the process unwinds the test with its exit code.
class FakeSystem : public platform::InstanceServices {
 public:
  std::set<std::string> events;
  std::vector<std::string> calls;
  bool NamedEventExists(const std::string& name) override { return events.count(name) != 0; }
  bool CreateNamedEvent(const std::string& name) override { return events.insert(name).second; }
  void ShowMessageBox(const std::string&, const std::string&, std::uint32_t) override { calls.push_back("box"); }
  std::string ExecutablePath() override { return "C:\\App\\Updater.exe"; }
  std::uint32_t CurrentProcessId() override { return 1; }
  std::uint32_t FindProcessByName(const std::string&, std::uint32_t) override {
    calls.push_back("find");
    return 7;
  }
  platform::WindowHandle FindTopWindowOfProcess(std::uint32_t, std::int32_t, bool) override { return 70; }
  bool IsWindowVisible(platform::WindowHandle) override { return true; }
  void ShowWindowInPlace(platform::WindowHandle) override {}
  bool IsMinimised(platform::WindowHandle) override { return false; }
  void RestoreWindow(platform::WindowHandle) override {}
  bool ActivateWindow(platform::WindowHandle) override {
    calls.push_back("activate");
    return true;
  }
  void EndProcess(std::uint32_t exitCode) override { throw ProgramEnded{exitCode}; }
};

class FixedPolicy : public platform::PolicySource {
 public:
  platform::UpdatePolicy policy;
  platform::UpdatePolicy Read() override { return policy; }
};

class UnattendedStartTest : public download::testing::DownloadRunTest {
 protected:
  void SetUp() override {
    DownloadRunTest::SetUp();
    platform::ReplacePolicySource(&policy);
  }
  void TearDown() override {
    platform::ReplacePolicySource(nullptr);
    DownloadRunTest::TearDown();
  }

  // The exit code of a start with `arguments`: returned, or given to the process's end. Each start
  // is the only copy running unless `anotherCopyRuns`.
  int Start(const std::vector<std::string>& arguments, bool anotherCopyRuns = false) {
    system.events.clear();
    if (anotherCopyRuns) system.events.insert(EventObjectName(InstanceName(system.ExecutablePath())));
    try {
      return StartRoutine(arguments, system, showWindow);
    } catch (const ProgramEnded& ended) {
      return static_cast<int>(ended.exitCode);
    }
  }
  std::string Log() const {
    std::ifstream in(runDirectory.Path() / "Bin" / "Config" / "update.log", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  FixedPolicy policy;
  FakeSystem system;
  int windowsShown = 0;
  ShowWindowFunction showWindow = [this](const platform::WindowDesign&, const platform::WindowEvents&) {
    ++windowsShown;
    return true;
  };
};

TEST_F(UnattendedStartTest, ThePolicyStopsBothModesBeforeTheCheck) {
  policy.policy.disableUpdates = 1;
  EXPECT_EQ(Start({}), 0);
  EXPECT_EQ(Notices(), std::vector<std::string>{"更新已被管理员禁用 / "});
  EXPECT_EQ(Start({"--quiet"}), 6);
  EXPECT_EQ(Start({"--check"}), 6);
  EXPECT_EQ(Notices().size(), 1u) << "a quiet run shows nothing";
  EXPECT_EQ(windowsShown, 0);
  EXPECT_FALSE(std::any_of(log.begin(), log.end(), [](const std::string& e) { return e.rfind("get ", 0) == 0; }))
      << "nothing is fetched";
  EXPECT_NE(Log().find("disabled by the administrator's policy"), std::string::npos);

  policy.policy.disableUpdates = 0;  // any other value lets updates run
  EXPECT_EQ(Start({}), 0);
  EXPECT_EQ(windowsShown, 1);
}

TEST_F(UnattendedStartTest, AUsageErrorEndsAtOnceWithItsCodeInEveryMode) {
  EXPECT_EQ(Start({"--run"}), 2);
  EXPECT_EQ(Start({"--check", "--quiet", "--close-product"}), 2);
  EXPECT_EQ(windowsShown, 0);
  EXPECT_EQ(Start({"--run"}, true), 2) << "refused before the guard";
  EXPECT_TRUE(log.empty());
}

TEST_F(UnattendedStartTest, ASecondQuietCopyEndsWithItsOwnCodeAndLeavesTheWindowAlone) {
  EXPECT_EQ(Start({"--quiet"}, true), 5);
  EXPECT_TRUE(system.calls.empty());
  // A copy with the window brings the running one forward and ends with 0, as always.
  EXPECT_EQ(Start({}, true), 0);
  EXPECT_EQ(system.calls, (std::vector<std::string>{"find", "activate"}));
}

TEST_F(UnattendedStartTest, AManifestRefusedInAQuietRunEndsWithTheReasonsCodeAndNoNotice) {
  ServerAnswers("", 0);
  EXPECT_EQ(Start({"--quiet"}), 20);
  ServerAnswers("", 407);
  EXPECT_EQ(Start({"--quiet"}), 20);
  EXPECT_NE(Log().find("the proxy asked for credentials"), std::string::npos);
  ServerAnswers("{not json");
  EXPECT_EQ(Start({"--quiet"}), 21);
  EXPECT_EQ(Start({"--check"}), 21);
  EXPECT_TRUE(Notices().empty());
}

TEST_F(UnattendedStartTest, CheckReportsAWaitingUpdateAndLeavesTheHandOffFile) {
  WriteProductFile("\\a.dll", "old");
  const std::string handOff = runDirectory.WriteFile(
      "Bin\\Config\\UP.data", ManifestJson("App.exe", {{"a", update::Md5Hex("new"), "\\a.dll"}}));
  EXPECT_EQ(Start({"--check", "--handoff"}), 10);
  EXPECT_TRUE(std::filesystem::exists(velmora::testing::PathFromNarrow(handOff)));
  EXPECT_EQ(windowsShown, 0);

  runDirectory.WriteFile("Bin\\Config\\UP.data", ManifestJson("App.exe", {{"a", update::Md5Hex("old"), "\\a.dll"}}));
  EXPECT_EQ(Start({"--check", "x"}), 0);
  const std::string runLog = Log();
  EXPECT_NE(runLog.find("mode check, arguments \"--check\" \"--handoff\""), std::string::npos);
  EXPECT_NE(runLog.find("listed: \\a.dll"), std::string::npos);
  EXPECT_NE(runLog.find("exit: code 10, an update is waiting"), std::string::npos);
  EXPECT_NE(runLog.find("exit: code 0, up to date"), std::string::npos);
}

TEST_F(UnattendedStartTest, AQuietRunKeepsTheHandOffFileUntilItsReleaseIsIn) {
  WriteProductFile("\\a.dll", "old");
  const std::filesystem::path handOff = velmora::testing::PathFromNarrow(runDirectory.WriteFile(
      "Bin\\Config\\UP.data", ManifestJson("App.exe", {{"a", update::Md5Hex("new"), "\\a.dll"}})));
  Serve("damaged");
  EXPECT_EQ(Start({"--quiet", "--handoff"}), 4);
  EXPECT_TRUE(std::filesystem::exists(handOff)) << "the next quiet run must find the update again";
  EXPECT_EQ(ProductBytes("\\a.dll"), "old");

  Serve("new");
  EXPECT_EQ(Start({"--quiet", "--handoff"}), 0) << "installed: nothing is left to do";
  EXPECT_NE(Log().find("exit: code 0, updated"), std::string::npos);
  EXPECT_EQ(ProductBytes("\\a.dll"), "new");
  EXPECT_FALSE(std::filesystem::exists(handOff));
  EXPECT_TRUE(Notices().empty());
  EXPECT_EQ(windowsShown, 0);
}

}  // namespace
}  // namespace velmora::app
