#include "platform/directory_walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "support/temp_dir.h"
#include "text/encoding.h"

namespace velmora::platform {
namespace {

std::vector<std::pair<std::string, std::uint64_t>> Listed(const DirectoryWalk& walk) {
  std::vector<std::pair<std::string, std::uint64_t>> listed;
  for (const WalkedFile& file : walk.files) {
    listed.emplace_back(text::WideToNarrow(file.relativePath, text::Utf8CodePage), file.size);
  }
  std::sort(listed.begin(), listed.end());
  return listed;
}

TEST(DirectoryWalkTest, ListsEveryFileBelowTheRootWithItsRelativePathAndSize) {
  velmora::testing::TempDir dir;
  dir.WriteFile("App.exe", "app");
  dir.WriteFile("Bin\\Plugins\\deep\\x.dll", std::string(70000, 'x'));
  dir.WriteFile(text::Utf8ToNarrow("资源\\新 功能.dat"), "");
  std::filesystem::create_directories(dir.Path() / "empty" / "folder");

  const DirectoryWalk walk = WalkDirectoryTree(dir.Narrow());
  EXPECT_TRUE(walk.rootIsFolder);
  EXPECT_TRUE(walk.problems.empty());
  EXPECT_EQ(Listed(walk), (std::vector<std::pair<std::string, std::uint64_t>>{
                              {"App.exe", 3}, {"Bin\\Plugins\\deep\\x.dll", 70000}, {"资源\\新 功能.dat", 0}}));
  // A trailing separator on the root changes nothing.
  EXPECT_EQ(Listed(WalkDirectoryTree(dir.Narrow() + "\\")), Listed(walk));
}

TEST(DirectoryWalkTest, AMissingRootOrAFileIsNoFolder) {
  velmora::testing::TempDir dir;
  const std::string file = dir.WriteFile("a.txt", "a");
  EXPECT_FALSE(WalkDirectoryTree(dir.NarrowPath("missing")).rootIsFolder);
  EXPECT_FALSE(WalkDirectoryTree(file).rootIsFolder);
  EXPECT_TRUE(FolderExists(dir.Narrow()));
  EXPECT_FALSE(FolderExists(file));
  EXPECT_FALSE(FolderExists(dir.NarrowPath("missing")));
}

#ifndef _WIN32
std::vector<std::pair<std::string, WalkProblemKind>> Problems(const DirectoryWalk& walk) {
  std::vector<std::pair<std::string, WalkProblemKind>> problems;
  for (const WalkProblem& problem : walk.problems) {
    problems.emplace_back(text::WideToNarrow(problem.relativePath, text::Utf8CodePage), problem.kind);
  }
  std::sort(problems.begin(), problems.end());
  return problems;
}

// Names and links that only POSIX systems make easily; each is reported, never skipped.
TEST(DirectoryWalkTest, LinksAndUnusableNamesAreReportedAsProblems) {
  velmora::testing::TempDir dir;
  dir.WriteFile("real\\kept.txt", "kept");
  dir.WriteFile("target.txt", "12345");
  std::filesystem::create_directory_symlink(dir.Path() / "real", dir.Path() / "loop");
  std::filesystem::create_symlink(dir.Path() / "target.txt", dir.Path() / "link.txt");
  std::filesystem::create_symlink(dir.Path() / "nowhere", dir.Path() / "dangling");
  std::ofstream(dir.Path() / "back\\slash.txt") << "b";
  std::ofstream(dir.Path() / std::string("bad\xff.txt")) << "c";

  const DirectoryWalk walk = WalkDirectoryTree(dir.Narrow());
  EXPECT_EQ(Listed(walk), (std::vector<std::pair<std::string, std::uint64_t>>{
                              {"link.txt", 5}, {"real\\kept.txt", 4}, {"target.txt", 5}}));
  EXPECT_EQ(Problems(walk), (std::vector<std::pair<std::string, WalkProblemKind>>{
                                {"back\\slash.txt", WalkProblemKind::NameWithBackslash},
                                {"bad\xEF\xBF\xBD.txt", WalkProblemKind::NameNotUnicode},
                                {"dangling", WalkProblemKind::NotRegularFile},
                                {"loop", WalkProblemKind::FolderLink}}));
}
#endif

}  // namespace
}  // namespace velmora::platform
