#include "update/run_directory.h"

#include <gtest/gtest.h>

namespace velmora::update {
namespace {

TEST(DirectoryOf, CutsAtTheLastSeparator) {
  EXPECT_EQ(DirectoryOf("C:\\App\\Updater.exe"), "C:\\App");
  EXPECT_EQ(DirectoryOf("C:\\Updater.exe"), "C:");
  EXPECT_EQ(DirectoryOf("/opt/app/updater"), "/opt/app");
  EXPECT_EQ(DirectoryOf("Updater.exe"), "");
  EXPECT_EQ(DirectoryOf(""), "");
  // 0x81 0x5C is one GBK character: its second byte is no separator.
  EXPECT_EQ(DirectoryOf("C:\\\x81\x5C\\Updater.exe"), "C:\\\x81\x5C");
  EXPECT_EQ(DirectoryOf("C:\\App\\\x81\x5CUpdater.exe"), "C:\\App");
}

TEST(RunDirectory, IsTheExecutablesFolderUnlessReplaced) {
  EXPECT_FALSE(RunDirectory().empty());
  ReplaceRunDirectory("C:\\Elsewhere");
  EXPECT_EQ(RunDirectory(), "C:\\Elsewhere");
  ReplaceRunDirectory("");
  EXPECT_NE(RunDirectory(), "C:\\Elsewhere");
}

}  // namespace
}  // namespace velmora::update
