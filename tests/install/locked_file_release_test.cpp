// Which processes a release ends, with the system's answers replaced: exact names and image paths,
// drive letters for device paths, and the updater itself never.
#include "install/locked_file_release.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "platform/release_services.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace velmora::install {
namespace {

std::u16string U16(const std::string& utf8) {
  return text::NarrowToWide(text::Utf8ToNarrow(utf8), text::NarrowCodePage);
}

class FakeSystem final : public platform::ReleaseServices {
 public:
  std::map<std::string, bool> files;  // path -> is a directory
  std::map<std::string, bool> exclusive;  // path -> opens exclusively
  std::optional<std::vector<platform::ProcessEntry>> processes = std::vector<platform::ProcessEntry>{};
  std::map<std::uint32_t, std::u16string> images;
  std::map<char16_t, std::u16string> devices;
  std::vector<std::uint32_t> terminated;
  std::uint32_t own = 1;

  bool Find(const std::string& path, bool& isDirectory) override {
    const auto found = files.find(path);
    if (found == files.end()) return false;
    isDirectory = found->second;
    return true;
  }
  bool OpensExclusively(const std::string& path) override { return exclusive[path]; }
  std::optional<std::vector<platform::ProcessEntry>> Processes() override { return processes; }
  std::u16string ImageFileName(std::uint32_t processId) override { return images[processId]; }
  std::u16string DosDevice(char16_t letter) override { return devices[letter]; }
  void Terminate(std::uint32_t processId) override { terminated.push_back(processId); }
  std::uint32_t OwnProcessId() override { return own; }
  void SleepMs(std::uint32_t) override {}

  void Run(std::uint32_t id, const std::string& exe, const std::string& image) {
    processes->push_back({id, U16(exe)});
    images[id] = U16(image);
  }
};

class LockedFileReleaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ReplaceReleaseServices(&system);
    system.devices[u'C'] = u"\\Device\\HarddiskVolume10";
    system.devices[u'D'] = u"\\Device\\HarddiskVolume1";
  }
  void TearDown() override { platform::ReplaceReleaseServices(nullptr); }
  FakeSystem system;
};

TEST_F(LockedFileReleaseTest, OnlyTheProgramRunningFromTheFileItselfIsEnded) {
  system.Run(10, "App.exe", "\\Device\\HarddiskVolume10\\Velmora\\App.exe");       // C:\Velmora\App.exe
  system.Run(11, "App.exe", "\\Device\\HarddiskVolume10\\Other\\App.exe");         // another folder
  system.Run(12, "app.exe", "\\Device\\HarddiskVolume10\\Velmora\\app.exe");       // other letter case
  system.Run(13, "App.exe", "\\Device\\HarddiskVolume10\\velmora\\App.exe");       // folder case differs
  system.Run(14, "App.exe", "\\Device\\HarddiskVolume1\\Velmora\\App.exe");        // D:, not C:
  system.Run(15, "App.exe", "");                                                   // image unreadable
  system.Run(16, "Tool.exe", "\\Device\\HarddiskVolume10\\Velmora\\App.exe");      // other name
  EXPECT_TRUE(ReleaseFile("App.exe", "C:\\Velmora\\App.exe"));
  EXPECT_EQ(system.terminated, (std::vector<std::uint32_t>{10}));
}

TEST_F(LockedFileReleaseTest, TheUpdaterNeverEndsItselfAndAnEmptyPathMatchesByNameAlone) {
  system.Run(1, "velmora-update.exe", "\\Device\\HarddiskVolume10\\Velmora\\velmora-update.exe");
  system.Run(20, "velmora-update.exe", "\\Device\\HarddiskVolume10\\Elsewhere\\velmora-update.exe");
  EXPECT_TRUE(ReleaseFile("velmora-update.exe", "C:\\Velmora\\velmora-update.exe"));
  EXPECT_TRUE(system.terminated.empty());
  EXPECT_TRUE(ReleaseFile("velmora-update.exe", ""));
  EXPECT_EQ(system.terminated, (std::vector<std::uint32_t>{20}));
}

TEST_F(LockedFileReleaseTest, ChineseNamesMatchAndNoProcessListIsAFailure) {
  system.Run(30, "启动.exe", "\\Device\\HarddiskVolume10\\软件\\启动.exe");
  EXPECT_TRUE(ReleaseFile(text::Utf8ToNarrow("启动.exe"), text::Utf8ToNarrow("C:\\软件\\启动.exe")));
  EXPECT_EQ(system.terminated, (std::vector<std::uint32_t>{30}));
  system.processes.reset();
  EXPECT_FALSE(ReleaseFile("App.exe", "C:\\App.exe"));
}

TEST_F(LockedFileReleaseTest, DevicePathsBecomeDriveLetterPathsOnlyWithTheWholeDeviceName) {
  EXPECT_EQ(DevicePathToDrivePath(u"\\Device\\HarddiskVolume10\\App\\x.exe"), u"C:\\App\\x.exe");
  EXPECT_EQ(DevicePathToDrivePath(u"\\Device\\HarddiskVolume1\\App\\x.exe"), u"D:\\App\\x.exe");
  EXPECT_EQ(DevicePathToDrivePath(u"\\Device\\HarddiskVolume2\\x.exe"), u"\\Device\\HarddiskVolume2\\x.exe")
      << "a volume without a letter keeps its device form";
  system.images[0] = u"\\Device\\HarddiskVolume1\\Velmora\\velmora-update.exe";
  EXPECT_EQ(ProcessImagePath(0), u"D:\\Velmora\\velmora-update.exe");
  EXPECT_EQ(ProcessImagePath(99), u"");
}

TEST_F(LockedFileReleaseTest, FileNamesOfPaths) {
  EXPECT_EQ(FileNameOfPath("C:\\App\\Bin\\core.dll", true), "core.dll");
  EXPECT_EQ(FileNameOfPath("C:\\App\\Bin\\core.dll", false), "core");
  EXPECT_EQ(FileNameOfPath("C:\\App\\archive.tar.gz", false), "archive.tar");
  EXPECT_EQ(FileNameOfPath("C:\\App\\README", false), "README");
  EXPECT_EQ(FileNameOfPath("C:\\App\\Bin\\", true), "") << "a trailing backslash names no file";
  EXPECT_EQ(FileNameOfPath("x.exe", true), "x.exe");
  // "\xD7\x5C" is one GBK character whose second byte is a backslash.
  EXPECT_EQ(FileNameOfPath("C:\\A\\\xD7\x5C.exe", true), "\xD7\x5C.exe");
  EXPECT_EQ(FileNameOfPath(text::Utf8ToNarrow("C:\\软件\\启动.exe"), false), text::Utf8ToNarrow("启动"));
}

TEST_F(LockedFileReleaseTest, ExistenceAndLocks) {
  system.files["C:\\App\\a.dll"] = false;
  system.files["C:\\App\\held.dll"] = false;
  system.files["C:\\App\\Bin"] = true;
  system.exclusive["C:\\App\\a.dll"] = true;
  EXPECT_TRUE(IsExistingFile("C:\\App\\a.dll"));
  EXPECT_FALSE(IsExistingFile("C:\\App\\Bin"));
  EXPECT_FALSE(IsExistingFile("C:\\App\\missing.dll"));
  EXPECT_FALSE(IsLocked("C:\\App\\a.dll"));
  EXPECT_TRUE(IsLocked("C:\\App\\held.dll"));
  EXPECT_FALSE(IsLocked("C:\\App\\missing.dll"));
  EXPECT_TRUE(IsLocked("C:\\App\\Bin")) << "a directory never opens for writing";
}

TEST(LockedFileRelease, AReadOnlyFileIsLockedForEveryUserRootIncluded) {
  velmora::testing::TempDir directory;
  const std::string path = directory.WriteFile("fixed.dll", "old");
  EXPECT_FALSE(IsLocked(path));
  std::filesystem::permissions(velmora::testing::PathFromNarrow(path), std::filesystem::perms::owner_read |
                                                                           std::filesystem::perms::group_read |
                                                                           std::filesystem::perms::others_read);
  EXPECT_TRUE(IsLocked(path));
}

}  // namespace
}  // namespace velmora::install
