#include "release_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "release_text.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace velmora::release {
namespace {

std::vector<std::string> ManifestPaths(const ReleaseFolder& folder) {
  std::vector<std::string> paths;
  for (const ReleaseFile& file : folder.files) paths.push_back(text::NarrowToUtf8(file.manifestPath));
  return paths;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string joined;
  for (const std::string& line : lines) joined += line + "\n";
  return joined;
}

TEST(ReleaseFolderTest, FilesAreSortedByPathInUtf16CodeUnitOrder) {
  velmora::testing::TempDir dir;
  for (const char* name : {"中.txt", "a\\x.dll", "a.txt", "a b.txt", "B.txt", "a\\b\\deep.bin", "empty.dat"}) {
    dir.WriteFile(text::Utf8ToNarrow(name), name == std::string("empty.dat") ? "" : "bytes");
  }
  const ReleaseFolder folder = ListReleaseFolder(dir.Narrow());
  ASSERT_TRUE(folder.found);
  EXPECT_EQ(Joined(folder.problems), "");
  // " " (0x20) < "." (0x2E) < "\" (0x5C); capitals before small letters; Chinese last.
  EXPECT_EQ(ManifestPaths(folder), (std::vector<std::string>{"\\B.txt", "\\a b.txt", "\\a.txt", "\\a\\b\\deep.bin",
                                                             "\\a\\x.dll", "\\empty.dat", "\\中.txt"}));
  EXPECT_EQ(folder.files[0].localPath, dir.Narrow() + "\\B.txt");
  EXPECT_EQ(folder.files[5].size, 0u);
}

TEST(ReleaseFolderTest, ANameWithoutAGbkFormIsAProblemThatNamesTheFile) {
  velmora::testing::TempDir dir;
  dir.WriteFile("ok.txt", "ok");
  std::ofstream(dir.Path() / std::filesystem::path(u"smile\U0001F600.txt")) << "x";
  const ReleaseFolder folder = ListReleaseFolder(dir.Narrow());
  EXPECT_EQ(ManifestPaths(folder), std::vector<std::string>{"\\ok.txt"});
  ASSERT_EQ(folder.problems.size(), 1u);
  EXPECT_NE(folder.problems[0].find("\\smile\U0001F600.txt"), std::string::npos) << folder.problems[0];
  EXPECT_NE(folder.problems[0].find("GBK"), std::string::npos) << folder.problems[0];
}

TEST(ReleaseFolderTest, AMissingFolderIsNotFound) {
  velmora::testing::TempDir dir;
  EXPECT_FALSE(ListReleaseFolder(dir.NarrowPath("nothing")).found);
}

#ifndef _WIN32
// Names that Linux holds and Windows does not: the updater could not install them as they are.
TEST(ReleaseFolderTest, NamesWindowsCannotHoldAndCaseTwinsAreProblems) {
  velmora::testing::TempDir dir;
  for (const char* name : {"App.dll", "app.DLL", "a:b.txt", "trailing.", "con.txt", "Bin/Я.txt", "bin/я.txt"}) {
    const std::filesystem::path path = dir.Path() / name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << name;
  }
  const ReleaseFolder folder = ListReleaseFolder(dir.Narrow());
  EXPECT_EQ(ManifestPaths(folder), (std::vector<std::string>{"\\App.dll", "\\Bin\\Я.txt"}));
  const std::string problems = Joined(folder.problems);
  EXPECT_NE(problems.find("\\a:b.txt: the name \"a:b.txt\" has the character \":\""), std::string::npos) << problems;
  EXPECT_NE(problems.find("\\trailing.: the name \"trailing.\" has a trailing dot"), std::string::npos) << problems;
  EXPECT_NE(problems.find("\\con.txt: the name \"con.txt\" has a device name"), std::string::npos) << problems;
  EXPECT_NE(problems.find("\\app.DLL: the same file on Windows as \\App.dll"), std::string::npos) << problems;
  EXPECT_NE(problems.find("\\bin\\я.txt: the same file on Windows as \\Bin\\Я.txt"), std::string::npos) << problems;
  EXPECT_EQ(folder.problems.size(), 5u) << problems;
  EXPECT_TRUE(folder.warnings.empty());
}
#endif

// A name no Windows program could create is refused; a path that programs without long-path
// support may fail on is published with a warning.
TEST(ReleaseFolderTest, ANameOver255CharactersIsAProblemAndAPathOver200AWarning) {
  EXPECT_EQ(WindowsNameProblem(std::u16string(255, u'名')), "");
  EXPECT_NE(WindowsNameProblem(std::u16string(256, u'a')).find("256 characters, more than the 255"), std::string::npos);
  velmora::testing::TempDir dir;
  std::string deep;
  for (int i = 0; i < 12; ++i) deep += "folder number " + std::to_string(10 + i) + "\\";
  dir.WriteFile(deep + "x.dat", "x");
  const ReleaseFolder folder = ListReleaseFolder(dir.Narrow());
  EXPECT_EQ(folder.files.size(), 1u);
  ASSERT_EQ(folder.warnings.size(), 1u);
  EXPECT_NE(folder.warnings[0].find("x.dat: a path of 209 characters"), std::string::npos) << folder.warnings[0];
}

}  // namespace
}  // namespace velmora::release
