#include "update/path_safety.h"

#include <gtest/gtest.h>

#include "text/encoding.h"

namespace velmora::update {
namespace {

struct Case {
  const char* utf8;
  bool safe;
};

TEST(IsSafeInstallPath, AcceptsPathsBelowTheRunDirectoryOnly) {
  const Case cases[] = {
      {"\\App.exe", true},
      {"\\Bin\\Config\\app.ini", true},
      {"/Bin/x.dll", true},
      {"\\Bin/x.dll", true},
      {"\\a..b\\x.dll", true},  // dots inside a name climb nowhere
      {"\\.config\\x", true},
      {"\\.\\x.dll", true},
      {"\\数据\\更新.dat", true},
      {"", false},
      {"App.exe", false},
      {"Bin\\x.dll", false},  // C:\App + Bin\x.dll = C:\AppBin\x.dll
      {"..\\x.dll", false},
      {"\\..", false},
      {"\\..\\x.dll", false},
      {"\\Bin\\..\\..\\x.dll", false},
      {"\\Bin\\...\\x.dll", false},
      {"\\Bin\\.. \\x.dll", false},
      {"/../x.dll", false},
      {"\\C:\\Windows\\x.dll", false},
      {"\\x.dll:stream", false},
      {"\\\\server\\share\\x.dll", false},
      {"//server/share/x.dll", false},
      {"\\\\?\\C:\\x.dll", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsSafeInstallPath(text::Utf8ToNarrow(c.utf8)), c.safe) << c.utf8;
  }
}

TEST(IsSafeLaunchTarget, AcceptsTargetsBelowTheRunDirectoryOnly) {
  const Case cases[] = {
      {"", true},
      {"App.exe", true},
      {"Bin\\App.exe", true},
      {"\\App.exe", true},
      {"启动.exe", true},
      {"..\\App.exe", false},
      {"Bin\\..\\..\\App.exe", false},
      {"C:\\Windows\\x.exe", false},
      {"C:x.exe", false},
      {"\\\\server\\share\\x.exe", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsSafeLaunchTarget(text::Utf8ToNarrow(c.utf8)), c.safe) << c.utf8;
  }
}

TEST(IsSafeInstallPath, AGbkTrailByteIsNoSeparator) {
  // U+8868-range characters aside, GBK has characters whose second byte is 0x5C ("\"): 0x81 0x5C
  // is one character, so "\" 0x81 0x5C ".." names a single segment, not a climbing one.
  EXPECT_TRUE(IsSafeInstallPath("\\\x81\x5C..\\x.dll"));
  EXPECT_TRUE(IsSafeLaunchTarget("\x81\x5C..\\x.exe"));
}

}  // namespace
}  // namespace velmora::update

namespace velmora::update {
namespace {

TEST(IsUpdaterStatePath, TheUpdatersOwnStateIsNoProductFile) {
  for (const char* path : {"\\Bin\\Config\\update.journal", "\\bin\\config\\UPDATE.JOURNAL.tmp", "\\Bin\\Config\\update.log",
                           "\\Bin\\Config\\PreviousRelease", "\\Bin/Config/previousrelease\\files\\App.exe",
                           "\\Bin\\Config\\PreviousRelease.new\\release.txt", "\\Bin\\Config\\rolled-back.txt"}) {
    EXPECT_TRUE(IsUpdaterStatePath(path)) << path;
  }
  for (const char* path : {"\\Bin\\Config\\settings.ini", "\\Bin\\Config\\UP.data", "\\Bin\\Config\\PreviousReleases.txt",
                           "\\Bin\\Config\\update.journals", "\\Config\\update.journal", "\\Bin\\core.dll"}) {
    EXPECT_FALSE(IsUpdaterStatePath(path)) << path;
  }
}

}  // namespace
}  // namespace velmora::update
