#include "app/start_routine.h"

#include <gtest/gtest.h>

#include <set>

#include "state/program_state.h"
#include "app/machine_doubles.h"
#include "app/service_messages.h"
#include "app/single_instance.h"
#include "platform/file.h"
#include "support/temp_dir.h"
#include "update/run_directory.h"

namespace velmora::app {
namespace {

using state::ResetState;
using state::State;
using state::TaskRecord;
using state::UpdateEntry;

struct ProcessEnded {
  std::uint32_t exitCode = 0;
};

// Only what the start routine's guard needs: an event that exists or not; ending the process
// unwinds the test instead.
class FakeSystem : public platform::InstanceServices {
 public:
  std::set<std::string> events;
  bool NamedEventExists(const std::string& name) override { return events.count(name) != 0; }
  bool CreateNamedEvent(const std::string& name) override { return events.insert(name).second; }
  void ShowMessageBox(const std::string&, const std::string&, std::uint32_t) override {}
  std::string ExecutablePath() override { return "C:\\App\\Updater.exe"; }
  std::uint32_t CurrentProcessId() override { return 1; }
  std::uint32_t FindProcessByName(const std::string&, std::uint32_t) override { return 0; }
  platform::WindowHandle FindTopWindowOfProcess(std::uint32_t, std::int32_t, bool) override { return 0; }
  bool IsWindowVisible(platform::WindowHandle) override { return false; }
  void ShowWindowInPlace(platform::WindowHandle) override {}
  bool IsMinimised(platform::WindowHandle) override { return false; }
  void RestoreWindow(platform::WindowHandle) override {}
  bool ActivateWindow(platform::WindowHandle) override { return false; }
  void EndProcess(std::uint32_t exitCode) override { throw ProcessEnded{exitCode}; }
};

class StartRoutineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetState();
    update::ReplaceRunDirectory(runDirectory.Narrow());
  }
  void TearDown() override {
    update::ReplaceRunDirectory("");
    ResetState();
  }

  velmora::testing::TempDir runDirectory;

  int windowsShown = 0;
  std::string shownCaption;
  ShowWindowFunction showWindow = [this](const platform::WindowDesign& design, const platform::WindowEvents& events) {
    ++windowsShown;
    shownCaption = design.caption;
    return events.created && events.destroying;
  };
};

TEST_F(StartRoutineTest, InstanceNameJoinsDirectoryAndFileNameWithoutSeparator) {
  EXPECT_EQ(InstanceName("C:\\App\\Updater.exe"), "C:\\AppUpdater.exe");
}

TEST_F(StartRoutineTest, ArgumentsDecideWhereTheManifestComesFrom) {
  using Arguments = std::vector<std::string>;
  for (const auto& [arguments, fetch] :
       {std::pair{Arguments{}, true}, {Arguments{"x"}, false}, {Arguments{"a", "--b", "c"}, false}, {Arguments{"--quieter"}, false}}) {
    FakeSystem system;
    State().fetchFromServer = !fetch;
    EXPECT_EQ(StartRoutine(arguments, system, showWindow), 0);
    EXPECT_EQ(State().fetchFromServer, fetch) << arguments.size() << " arguments";
  }
  EXPECT_EQ(windowsShown, 4);
  EXPECT_EQ(shownCaption, "Update");
}

TEST_F(StartRoutineTest, SecondCopyEndsWithoutShowingItsWindow) {
  FakeSystem system;
  system.events.insert(EventObjectName(InstanceName(system.ExecutablePath())));
  EXPECT_THROW(StartRoutine({}, system, showWindow), ProcessEnded);
  EXPECT_EQ(windowsShown, 0);
}

TEST_F(StartRoutineTest, ExitCleanupEmptiesTheProgramWideState) {
  State().updateList.push_back(UpdateEntry{"a", "b", "c", "\\d", -1, "", false, false, ""});
  State().taskList.push_back(TaskRecord{1, {}, 0});
  State().launchTarget = "App.exe";
  State().entryCount = 1;
  ExitCleanup();
  EXPECT_TRUE(State().updateList.empty());
  EXPECT_TRUE(State().taskList.empty());
  EXPECT_TRUE(State().launchTarget.empty());
  EXPECT_EQ(State().entryCount, 0);
}

// A run that cannot write hands an interrupted commit to the service and ends as its recovery did.
TEST_F(StartRoutineTest, AnInterruptedCommitInAFolderThatCannotBeWrittenIsFinishedThroughTheService) {
  runDirectory.WriteFile("Bin\\Config\\update.journal", "journal");
  testing::FakeMachine machine;
  machine.writable = false;
  machine.serviceFor = "C:\\App\\Updater.exe";
  machine.status.processId = 42;
  machine.processes[42] = {"C:\\App\\Updater.exe", "S-1-5-18"};
  const std::string end("\x06\x10\0\0\0\x03\0\0\0\x02\0\0\0", 13);  // exit code 3, 2 files held
  machine.pipes.push_back(std::make_unique<testing::FakePipe>(42, end + std::string(8, '\0')));
  const std::shared_ptr<std::string> written = machine.pipes.back()->written;
  platform::ReplaceMachineServices(&machine);
  FakeSystem system;
  EXPECT_EQ(StartRoutine({"--quiet"}, system, showWindow), 3);
  platform::ReplaceMachineServices(nullptr);
  EXPECT_EQ(written->substr(5), std::string(kRequestMagic) + "\x03");
  EXPECT_EQ(platform::FileLength(runDirectory.Narrow() + "\\Bin\\Config\\update.journal"), 7);  // untouched here
}

}  // namespace
}  // namespace velmora::app
