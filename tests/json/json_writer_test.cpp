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

// The escaping a writer must do, one unit at a time.
std::u16string Quoted(const std::u16string& text) {
  std::u16string out = u"\"";
  for (const char16_t unit : text) {
    const char16_t* letter = nullptr;
    switch (unit) {
      case u'"': letter = u"\\\""; break;
      case u'\\': letter = u"\\\\"; break;
      case u'/': letter = u"\\/"; break;
      case u'\b': letter = u"\\b"; break;
      case u'\t': letter = u"\\t"; break;
      case u'\n': letter = u"\\n"; break;
      case u'\f': letter = u"\\f"; break;
      case u'\r': letter = u"\\r"; break;
      default: break;
    }
    if (letter != nullptr) {
      out += letter;
    } else {
      out += unit;
    }
  }
  return out + u"\"";
}

TEST(JsonWriter, EscapesEveryUnitWhereverItStandsInKeysAndTexts) {
  // Texts of every length the writer treats apart (short, 4 to 7, 8 to 16, longer), each with
  // one unit of interest at each position among letters; units below "0", at and above 0x8000,
  // and those that look like escapes but are not (0x0B, 0x0E) included.
  std::u16string units = u"\"\\/\b\t\n\f\r\x0B\x0E\x01 -.\u4E2D\uAC00\uFFFFz";
  units.push_back(static_cast<char16_t>(0xD800));  // a lone surrogate is written as it is
  for (std::size_t length = 1; length <= 40; ++length) {
    for (const char16_t unit : units) {
      for (std::size_t at = 0; at < length; ++at) {
        std::u16string text(length, u'k');
        text[at] = unit;
        JsonDocument document = Parsed("{}");
        ASSERT_TRUE(document.SetMemberDocumentWide(u"", text, document.NewTextWide(text)));
        const std::u16string expected = u"{" + Quoted(text) + u":" + Quoted(text) + u"}";
        ASSERT_EQ(document.ToJsonWide(u""), expected) << length << " " << at << " " << static_cast<int>(unit);
      }
    }
  }
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
