#include "app/single_instance.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "text/encoding.h"

namespace velmora::app {
namespace {

// A system with one other copy (process 7, window 70) or none; records what the guard does.
class FakeSystem : public platform::InstanceServices {
 public:
  std::set<std::string> events;
  std::string executable = "C:\\App\\Updater.exe";
  std::uint32_t ownProcess = 5;
  std::uint32_t otherProcess = 7;
  platform::WindowHandle otherWindow = 70;
  bool visible = true;
  bool minimised = false;
  std::vector<std::string> calls;
  std::string searchedName;
  std::uint32_t excluded = 0;

  bool NamedEventExists(const std::string& name) override { return events.count(name) != 0; }
  bool CreateNamedEvent(const std::string& name) override {
    calls.push_back("create " + name);
    events.insert(name);
    return true;
  }
  void ShowMessageBox(const std::string& text, const std::string& caption, std::uint32_t style) override {
    calls.push_back("message " + text + "|" + caption + "|" + std::to_string(style));
  }
  std::string ExecutablePath() override { return executable; }
  std::uint32_t CurrentProcessId() override { return ownProcess; }
  std::uint32_t FindProcessByName(const std::string& name, std::uint32_t excludedProcessId) override {
    searchedName = name;
    excluded = excludedProcessId;
    return otherProcess;
  }
  platform::WindowHandle FindTopWindowOfProcess(std::uint32_t processId, std::int32_t limit, bool visibleOnly) override {
    calls.push_back("find " + std::to_string(processId) + " " + std::to_string(limit) + (visibleOnly ? " visible" : ""));
    return processId == otherProcess ? otherWindow : 0;
  }
  bool IsWindowVisible(platform::WindowHandle) override { return visible; }
  void ShowWindowInPlace(platform::WindowHandle) override { calls.push_back("show"); }
  bool IsMinimised(platform::WindowHandle) override { return minimised; }
  void RestoreWindow(platform::WindowHandle) override { calls.push_back("restore"); }
  bool ActivateWindow(platform::WindowHandle window) override {
    calls.push_back("activate " + std::to_string(window));
    return true;
  }
  void EndProcess(std::uint32_t exitCode) override { calls.push_back("end " + std::to_string(exitCode)); }
};

GuardOptions Activating() {
  GuardOptions options;
  options.activateExisting = true;
  return options;
}

TEST(SingleInstanceGuard, FirstCopyCreatesTheEventAndContinues) {
  FakeSystem system;
  std::string name = "C:\\AppUpdater.exe";
  SingleInstanceGuard(name, Activating(), system);
  EXPECT_EQ(system.calls, std::vector<std::string>{"create " + EventObjectName(name)});
}

TEST(SingleInstanceGuard, SecondCopyRestoresAndActivatesTheFirstThenEnds) {
  FakeSystem system;
  system.minimised = true;
  std::string name = "C:\\AppUpdater.exe";
  system.events.insert(EventObjectName(name));
  SingleInstanceGuard(name, Activating(), system);
  EXPECT_EQ(system.calls, (std::vector<std::string>{"find 7 100 visible", "restore", "activate 70", "end 0"}));
  EXPECT_EQ(system.searchedName, "Updater.exe");
  EXPECT_EQ(system.excluded, 5u) << "the second copy must not find itself";
}

TEST(SingleInstanceGuard, SecondCopyWithoutAWindowToActivateStillEnds) {
  FakeSystem system;
  std::string name = "C:\\AppUpdater.exe";
  system.events.insert(EventObjectName(name));
  system.otherProcess = 0;  // the first copy is not found: no window is searched
  SingleInstanceGuard(name, Activating(), system);
  EXPECT_EQ(system.calls, std::vector<std::string>{"end 0"});

  system.calls.clear();
  system.otherProcess = 7;
  system.otherWindow = 0;  // found, but its window did not show up within the limit
  SingleInstanceGuard(name, Activating(), system);
  EXPECT_EQ(system.calls, (std::vector<std::string>{"find 7 100 visible", "end 0"}));
}

TEST(SingleInstanceGuard, NoticeAndBeforeExitComeFirstWhenAsked) {
  FakeSystem system;
  std::string name;
  system.events.insert(DefaultEventName());
  bool beforeExitCalled = false;
  GuardOptions options;
  options.showNotice = true;
  options.noticeStyle = 0x30;
  options.beforeExit = [&] { beforeExitCalled = true; };
  SingleInstanceGuard(name, options, system);
  EXPECT_TRUE(beforeExitCalled);
  EXPECT_EQ(name, "917b41c1b5ace220c8b4dcacd5857727") << "the default name is written back";
  ASSERT_EQ(system.calls.size(), 2u);
  EXPECT_EQ(system.calls[0],
            "message " + text::Utf8ToNarrow("对不起,该进程已打开!") + "|" + text::Utf8ToNarrow("友情提醒:") + "|48");
  EXPECT_EQ(system.calls[1], "end 0");
}

TEST(EventObjectName, IsAValidNameThatOnlyTheSameExecutableShares) {
  const std::string name = EventObjectName("C:\\AppUpdater.exe");
  EXPECT_EQ(name.find('\\'), std::string::npos);
  EXPECT_EQ(name.rfind("VelmoraUpdate-", 0), 0u);
  EXPECT_EQ(name, EventObjectName("c:\\appUPDATER.EXE")) << "letter case does not make another copy";
  EXPECT_NE(name, EventObjectName("C:\\OtherUpdater.exe"));
  EXPECT_NE(name, EventObjectName("D:\\AppUpdater.exe"));
  const std::string chinese = text::Utf8ToNarrow("C:\\软件\\更新Updater.exe");
  EXPECT_NE(EventObjectName(chinese), name);
  EXPECT_EQ(EventObjectName("917b41c1b5ace220c8b4dcacd5857727"), "917b41c1b5ace220c8b4dcacd5857727");
}

TEST(PathParts, SplitAtTheLastSeparatorOutsideDoubleByteCharacters) {
  struct Case {
    std::string path, directory, file;
  };
  // "\xD7\x5C" (GBK) is one character whose second byte looks like "\".
  const std::vector<Case> cases = {
      {"C:\\App\\Updater.exe", "C:\\App", "Updater.exe"},
      {"Updater.exe", "", "Updater.exe"},
      {"C:\\\xD7\x5C\\a.exe", "C:\\\xD7\x5C", "a.exe"},
      {"C:\\dir\\\xD7\x5C.exe", "C:\\dir", "\xD7\x5C.exe"},
      {"/tmp/run/velmora-update", "/tmp/run", "velmora-update"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DirectoryOf(c.path), c.directory) << c.path;
    EXPECT_EQ(FileNameOf(c.path), c.file) << c.path;
  }
}

}  // namespace
}  // namespace velmora::app
