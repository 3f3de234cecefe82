#include "update/manifest_freshness.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace velmora::update {
namespace {

TEST(ManifestFreshness, UtcTimesInTheirIso8601Forms) {
  EXPECT_EQ(ParseUtcTime("1970-01-01T00:00:00Z"), 0);
  EXPECT_EQ(ParseUtcTime("2027-01-06T12:00:00Z"), 1799236800);
  EXPECT_EQ(ParseUtcTime("2027-01-06T12:00:00.999Z"), 1799236800);
  EXPECT_EQ(ParseUtcTime("2027-01-06T20:00:00+08:00"), 1799236800);
  EXPECT_EQ(ParseUtcTime("2027-01-06T07:30:00-04:30"), 1799236800);
  EXPECT_EQ(ParseUtcTime("2024-02-29T00:00:00Z"), 1709164800);
  for (const char* text : {"2027-01-06", "2027-01-06T12:00:00", "2027-01-06 12:00:00Z", "2027-02-29T00:00:00Z",
                           "2027-13-01T00:00:00Z", "2027-01-06T24:00:00Z", "2027-01-06T12:00:60Z",
                           "2027-01-06T12:00:00.Z", "2027-01-06T12:00:00+0800", "2027-01-06T12:00:00Z ", ""}) {
    EXPECT_FALSE(ParseUtcTime(text).has_value()) << text;
  }
  for (std::int64_t seconds : {std::int64_t{0}, std::int64_t{1799236800}, std::int64_t{951782399}, std::int64_t{4102444800}}) {
    EXPECT_EQ(ParseUtcTime(FormatUtcTime(seconds)), seconds) << FormatUtcTime(seconds);
  }
  EXPECT_EQ(FormatUtcTime(1799236800), "2027-01-06T12:00:00Z");
}

TEST(ManifestFreshness, SerialsAreDecimalDigitsThatFit) {
  EXPECT_EQ(ParseSerial("0"), 0);
  EXPECT_EQ(ParseSerial("1765000000"), 1765000000);
  EXPECT_EQ(ParseSerial("9223372036854775807"), INT64_MAX);
  for (const char* literal : {"", "-1", "1.5", "1e9", "9223372036854775808", "+3", " 3"}) {
    EXPECT_FALSE(ParseSerial(literal).has_value()) << literal;
  }
}

TEST(ManifestFreshness, TheAcceptedSerialSurvivesInItsStateFile) {
  velmora::testing::TempDir run;
  EXPECT_EQ(ReadAcceptedSerial(run.Narrow()), 0) << "nothing stored yet";
  ASSERT_TRUE(StoreAcceptedSerial(run.Narrow(), 1765000000));
  EXPECT_EQ(ReadAcceptedSerial(run.Narrow()), 1765000000);
  ASSERT_TRUE(StoreAcceptedSerial(run.Narrow(), 1765000001));
  EXPECT_EQ(ReadAcceptedSerial(run.Narrow()), 1765000001);
  run.WriteFile("Bin\\Config\\UP.serial", "garbage");
  EXPECT_EQ(ReadAcceptedSerial(run.Narrow()), 0);
}

}  // namespace
}  // namespace velmora::update
