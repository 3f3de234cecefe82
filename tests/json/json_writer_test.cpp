#include <gtest/gtest.h>

#include <string>

#include "json/json_document.h"
#include "json/text_builder.h"
#include "json_test_support.h"

namespace velmora::json {
namespace {

using testing::Parsed;

TEST(JsonWriter, CompactOutputGivesTheTextBack) {
  EXPECT_EQ(Parsed(R"({"a":1,"b":[true,null,"x"]})").ToJson(), R"({"a":1,"b":[true,null,"x"]})");
  EXPECT_EQ(Parsed(R"({ "n" : 1.50 , "e" : 1E+3, "z": -0 })").ToJson(), R"({"n":1.50,"e":1E+3,"z":-0})");
  EXPECT_EQ(Parsed("[]").ToJson(), "[]");
  EXPECT_EQ(Parsed("{}").ToJson(), "{}");
  EXPECT_EQ(Parsed(R"("top")").ToJson(), R"("top")");
  EXPECT_EQ(Parsed("{a:1,'b':'c'}").ToJson(), R"({"a":1,"b":"c"})");
}

TEST(JsonWriter, PrettyOutputBreaksObjectsOnlyAndCountsArraysAsLevels) {
  EXPECT_EQ(Parsed(R"({"a":1,"b":[true,null,"x"]})").ToJson("", true),
            "{\r\n\t\"a\":1,\r\n\t\"b\":[true,null,\"x\"]\r\n}");
  EXPECT_EQ(Parsed(R"({"a":[{"b":1}]})").ToJson("", true), "{\r\n\t\"a\":[{\r\n\t\t\t\"b\":1\r\n\t\t}]\r\n}");
  EXPECT_EQ(Parsed("{}").ToJson("", true), "{\r\n}");
  EXPECT_EQ(Parsed("[[1],[2,[3]]]").ToJson("", true), "[[1],[2,[3]]]");
  EXPECT_EQ(Parsed(R"({"o":{"p":{}}})").ToJson("", true),
            "{\r\n\t\"o\":{\r\n\t\t\"p\":{\r\n\t\t}\r\n\t}\r\n}");
}

TEST(JsonWriter, EscapesOnRequestAndNeverWritesUnicodeEscapes) {
  JsonDocument document = Parsed("{}");
  ASSERT_TRUE(document.SetTextWide(u"s", u"a\"b/c\n"));
  ASSERT_TRUE(document.SetTextWide(u"k\"ey", u"\x01\u4E2D\\\b\t\r\f"));
  EXPECT_EQ(document.ToJsonWide(u"s"), u"\"a\\\"b\\/c\\n\"");  // eleven units
  EXPECT_EQ(document.ToJsonWide(u"s").size(), 11u);
  EXPECT_EQ(document.ToJsonWide(u"s", false, false), u"\"a\"b/c\n\"");
  EXPECT_EQ(document.ToJsonWide(u""), u"{\"s\":\"a\\\"b\\/c\\n\",\"k\\\"ey\":\"\x01\u4E2D\\\\\\b\\t\\r\\f\"}");
}

TEST(JsonWriter, PathsAndResultsInBothForms) {
  JsonDocument document = Parsed(R"({"data":[{"name":"\u66F4"}],"n":1.50})");
  // The escape was kept as written, so its backslash is a character of the text and escaped.
  EXPECT_EQ(document.ToJson("data[0]"), R"({"name":"\\u66F4"})");
  EXPECT_EQ(document.ToJson("missing"), "");
  EXPECT_EQ(document.ToJsonWide(u"missing"), u"");
  EXPECT_EQ(JsonDocument().ToJson(), "");
  ASSERT_TRUE(document.SetText("g", "\xB8\xFC"));  // 更 in GBK
  EXPECT_EQ(document.ToJson("g"), "\"\xB8\xFC\"");
  EXPECT_EQ(document.ToJsonWide(u"g"), u"\"\u66F4\"");
  EXPECT_EQ(document.ToJson("n"), "1.50");
}

TEST(JsonWriter, SmallInitialCapacityStillGivesTheWholeText) {
  std::string text = "[";
  for (int i = 0; i < 500; ++i) text += testing::Joined(i ? ",\"item " : "\"item ", i, "\"");
  text += "]";
  JsonDocument document = Parsed(text.c_str());
  EXPECT_EQ(document.ToJson("", false, true, 16), text);
  EXPECT_EQ(document.ToJson("", false, true, 1), text);
  EXPECT_EQ(document.ToJson("", false, true, -5), text);
}

TEST(JsonWriter, NumbersEmptiedInPlaceAreWrittenAsTheirValue) {
  // An emptied number has no text form; writing nothing would break the JSON.
  JsonDocument document = Parsed(R"({"r":1.5,"i":7,"s":"x","a":[1],"o":{"k":1}})");
  for (const char* path : {"r", "i", "s", "a", "o"}) document.ClearValue(path);
  EXPECT_EQ(document.ToJson(), R"({"r":0,"i":0,"s":"","a":[],"o":{}})");
  EXPECT_EQ(document.GetText("r"), "");
}

TEST(TextBuilder, GrowsByTheRuleOfTheFormat) {
  TextBuilder builder(16);
  EXPECT_EQ(builder.CapacityBytes(), 16);
  ASSERT_TRUE(builder.Append(u"1234567"));  // 7 units + terminator = 16 bytes: fits
  EXPECT_EQ(builder.CapacityBytes(), 16);
  ASSERT_TRUE(builder.Append(u'8'));  // a single unit keeps room for two: 16 - (9*2+2) < 0
  EXPECT_EQ(builder.CapacityBytes(), 16 * 2 + 2 * 2 + 2);
  ASSERT_TRUE(builder.Append(std::u16string(40, u'x')));
  EXPECT_EQ(builder.CapacityBytes(), 38 * 2 + 40 * 2 + 2);
  EXPECT_EQ(builder.Text(), u"12345678" + std::u16string(40, u'x'));
  EXPECT_EQ(TextBuilder(0).CapacityBytes(), 1024);
}

}  // namespace
}  // namespace velmora::json
