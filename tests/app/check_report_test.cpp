#include "app/check_report.h"

#include <gtest/gtest.h>

#include "text/encoding.h"

namespace velmora::app {
namespace {

state::UpdateEntry Entry(const char* pathUtf8, std::int64_t size) {
  state::UpdateEntry entry;
  entry.path = text::Utf8ToNarrow(pathUtf8);
  entry.size = size;
  return entry;
}

TEST(CheckReport, NamesEveryStaleFileAndTheirBytesOnOneLine) {
  EXPECT_EQ(CheckReportLine({}), "up to date\n");
  EXPECT_EQ(CheckReportLine({Entry("\\Velmora.exe", 1000), Entry("\\Bin\\中文 名.dll", 24)}),
            "update: 2 files, 1024 bytes: \"\\\\Velmora.exe\" \"\\\\Bin\\\\中文 名.dll\"\n");
  // A size the manifest does not give is not guessed.
  EXPECT_EQ(CheckReportLine({Entry("\\a", 10), Entry("\\b", -1)}),
            "update: 2 files, at least 10 bytes: \"\\\\a\" \"\\\\b\"\n");
}

TEST(CheckReport, NamesAreJsonStringsSoAnyNameCanBeReadBack) {
  EXPECT_EQ(JsonQuoted("with \"quotes\""), "\"with \\\"quotes\\\"\"");
  EXPECT_EQ(JsonQuoted("tab\there"), "\"tab\\u0009here\"");
  EXPECT_EQ(JsonQuoted("line\nbreak"), "\"line\\u000abreak\"") << "the report stays one line";
  EXPECT_EQ(JsonQuoted("中文"), "\"中文\"");
  EXPECT_EQ(JsonQuoted(""), "\"\"");
}

}  // namespace
}  // namespace velmora::app
