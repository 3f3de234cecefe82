// The run log's lines: the prefix that lets support staff pick one run's lines out, one event per
// line whatever its text, and the log set aside whole at its limit.
#include "update/run_log.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "support/temp_dir.h"
#include "update/state_paths.h"

namespace velmora::update {
namespace {

TEST(RunLog, EachLineStartsWithLocalTimeOffsetAndRunId) {
  platform::LocalTime time;
  time.year = 2026;
  time.month = 3;
  time.day = 9;
  time.hour = 7;
  time.minute = 5;
  time.second = 4;
  time.millisecond = 21;
  time.utcOffsetMinutes = 480;
  EXPECT_EQ(LogLinePrefix(time, "0123abcd"), "2026-03-09 07:05:04.021 +08:00 0123abcd ");
  time.utcOffsetMinutes = -210;  // Newfoundland
  EXPECT_EQ(LogLinePrefix(time, "0123abcd"), "2026-03-09 07:05:04.021 -03:30 0123abcd ");
}

class RunLogFileTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directories(directory.Path() / "Bin" / "Config"); }
  std::string Read(const std::string& relative) const {
    std::ifstream in(directory.Path() / relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  velmora::testing::TempDir directory;
};

TEST_F(RunLogFileTest, OneRunsLinesShareAnIdThatTheNextRunDoesNotHave) {
  BeginRunLog();
  const std::string first = RunId();
  AppendToRunLog(directory.Narrow(), "one\r\ntwo");
  AppendLinesToRunLog(directory.Narrow(), {"three", "four"});
  BeginRunLog();
  EXPECT_NE(RunId(), first);
  EXPECT_TRUE(std::regex_match(first, std::regex("[0-9a-f]{8}")));
  AppendToRunLog(directory.Narrow(), "five");

  const std::string log = Read("Bin/Config/update.log");
  const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} [+-]\d\d:\d\d ([0-9a-f]{8}) (.*))");
  std::vector<std::pair<std::string, std::string>> lines;
  std::istringstream in(log);
  for (std::string text; std::getline(in, text);) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(text, match, line)) << text;
    lines.emplace_back(match[1], match[2]);
  }
  ASSERT_EQ(lines.size(), 4u) << "a line break inside an event never starts a line of its own";
  EXPECT_EQ(lines[0], (std::pair<std::string, std::string>{first, "one  two"}));
  EXPECT_EQ(lines[2].second, "four");
  EXPECT_EQ(lines[2].first, first);
  EXPECT_EQ(lines[3], (std::pair<std::string, std::string>{RunId(), "five"}));
}

TEST_F(RunLogFileTest, AFullLogIsSetAsideWholeAndANewOneStarted) {
  const std::string earlier(kRunLogLimit - 10, 'x');
  directory.WriteFile("Bin\\Config\\update.log", earlier);
  directory.WriteFile("Bin\\Config\\update.log.1", "the log before");
  AppendToRunLog(directory.Narrow(), "still fits");  // the log was under its limit
  EXPECT_EQ(Read("Bin/Config/update.log.1"), "the log before");
  AppendToRunLog(directory.Narrow(), "after the limit");
  EXPECT_EQ(Read("Bin/Config/update.log.1").substr(0, earlier.size()), earlier);
  const std::string fresh = Read("Bin/Config/update.log");
  EXPECT_NE(fresh.find("after the limit\n"), std::string::npos);
  EXPECT_LT(fresh.size(), 200u);
}

TEST_F(RunLogFileTest, ALogThatCannotBeWrittenIsNoError) {
  // A folder where the file should be.
  std::filesystem::create_directories(directory.Path() / "Bin" / "Config" / "update.log");
  AppendToRunLog(directory.Narrow(), "lost");
  SUCCEED();
}

}  // namespace
}  // namespace velmora::update
