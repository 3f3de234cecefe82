#include "json/json_path.h"

#include <gtest/gtest.h>

#include <string>

#include "json/json_document.h"
#include "json_test_support.h"

namespace velmora::json {
namespace {

using testing::Dump;

// Segments written as "name" or "[index]", joined by spaces.
std::string Segments(const char16_t* path) {
  const JsonPath parsed(path);
  std::string out;
  for (const PathSegment& segment : parsed.Segments()) {
    if (!out.empty()) out += " ";
    out += segment.isIndex ? testing::Joined("[", segment.index, "]") : testing::Narrow(segment.name);
  }
  return out;
}

TEST(JsonPath, SplitsIntoMembersAndIndexes) {
  const struct {
    const char16_t* path;
    const char* segments;
  } cases[] = {
      {u"data[0].name", "data [0] name"},
      {u"a.b", "a b"},
      {u"[2]", "[2]"},
      {u"a[1][2]", "a [1] [2]"},
      {u"a\\.b", "a.b"},
      {u"a\\[0\\]", "a[0]"},
      {u"a\\\\.b", "a\\ b"},
      {u"a\\x", "a\\x"},  // other escapes stay
      {u"a..b", "a b"},
      {u".a.", "a"},
      {u"a[0]x", "a [0] x"},
      {u"[]", "[0]"},
      {u"a[1", "a 1"},
      {u"ab]c", "c"},
      {u"[-3]", "[-3]"},
      {u"[+4x]", "[4]"},
      {u"a[1]]", "a [1] [1]"},  // every "]" reads from the last "["
      {u".", ""},
      {u"", ""},
      {u"x\0y", "x"},
  };
  for (const auto& c : cases) EXPECT_EQ(Segments(c.path), c.segments) << testing::Narrow(c.path);
}

class PathQueries : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(document_.Parse(R"({"data":[{"name":"a"},{"name":"b"}],"a.b":"x","n":1.50,"m":-2.7,)"
                                R"("t":true,"f":false,"z":null,"s":"text","o":{"b":1,"a":2},"e":{},"arr":[]})"));
  }
  JsonDocument document_;
};

TEST_F(PathQueries, FindNodesByMemberAndIndex) {
  EXPECT_EQ(document_.GetCount("data"), 2);
  EXPECT_EQ(document_.GetText("data[1].name"), "b");
  EXPECT_EQ(document_.GetText("data[2].name"), "");
  EXPECT_EQ(document_.GetText("a\\.b"), "x");
  EXPECT_EQ(document_.GetText("a.b"), "");
  EXPECT_EQ(document_.GetText("o[1]"), "2");  // an index into an object counts members in order
  EXPECT_EQ(document_.GetText("data[-1].name"), "");
  EXPECT_EQ(document_.GetCount("s"), 0);
  EXPECT_EQ(document_.GetCount("missing"), 0);
  EXPECT_EQ(document_.GetCount(""), 11);
}

TEST_F(PathQueries, TypeAndExistence) {
  EXPECT_EQ(document_.GetType("data"), JsonKind::Array);
  EXPECT_EQ(document_.GetType("o"), JsonKind::Object);
  EXPECT_EQ(document_.GetType("n"), JsonKind::Real);
  EXPECT_EQ(document_.GetType("missing"), JsonKind::Raw);
  EXPECT_EQ(document_.GetType(""), JsonKind::Object);
  EXPECT_TRUE(document_.Exists("data[0]"));
  EXPECT_FALSE(document_.Exists("data[0].other"));
  EXPECT_FALSE(document_.Exists(""));
  EXPECT_FALSE(document_.Exists("."));
  EXPECT_FALSE(JsonDocument().Exists("a"));
  EXPECT_EQ(JsonDocument().GetType(""), JsonKind::Raw);
}

TEST_F(PathQueries, GettersConvertByKind) {
  EXPECT_EQ(document_.GetText("n"), "1.50");
  EXPECT_DOUBLE_EQ(document_.GetNumber("n"), 1.5);
  EXPECT_EQ(document_.GetInt("n"), 1);
  EXPECT_EQ(document_.GetInt("m"), -2);
  EXPECT_EQ(document_.GetInt64("m"), -2);
  EXPECT_EQ(document_.GetText("t"), "true");
  EXPECT_EQ(document_.GetText("f"), "false");
  EXPECT_EQ(document_.GetText("z"), "null");
  EXPECT_EQ(document_.GetText("o"), "");
  EXPECT_EQ(document_.GetText("data"), "");
  EXPECT_EQ(document_.GetLiteral("n"), "1.50");
  EXPECT_EQ(document_.GetLiteral("s"), "");
  EXPECT_EQ(document_.GetLiteral("z"), "null");
  EXPECT_DOUBLE_EQ(document_.GetNumber("t"), 1.0);
  EXPECT_EQ(document_.GetInt64("f"), 0);
  EXPECT_TRUE(document_.GetBool("t"));
  EXPECT_FALSE(document_.GetBool("s"));
  EXPECT_FALSE(document_.GetBool("o"));
  EXPECT_EQ(document_.GetNumber("o"), 0.0);
}

TEST(JsonAccessors, BooleanAndNumberConversionsOfValues) {
  JsonDocument document;
  ASSERT_TRUE(document.Parse(R"(["true", 0.00000001, 0.5, 4294967296, 1, 4294967297, "12abc", " 7", "-3.5e1x",)"
                             R"( 1e300, -1e300, "99999999999999999999"])"));
  EXPECT_FALSE(document.GetBool("[0]"));
  EXPECT_FALSE(document.GetBool("[1]"));
  EXPECT_TRUE(document.GetBool("[2]"));
  EXPECT_FALSE(document.GetBool("[3]"));  // only the low 32 bits count
  EXPECT_TRUE(document.GetBool("[4]"));
  EXPECT_EQ(document.GetInt("[5]"), 1);
  EXPECT_EQ(document.GetInt64("[5]"), 4294967297LL);
  EXPECT_DOUBLE_EQ(document.GetNumber("[5]"), 4294967297.0);
  EXPECT_EQ(document.GetInt("[6]"), 12);
  EXPECT_EQ(document.GetInt64("[6]"), 12);
  EXPECT_DOUBLE_EQ(document.GetNumber("[6]"), 12.0);
  EXPECT_EQ(document.GetInt("[7]"), 0);     // StrToIntW takes no leading blanks
  EXPECT_EQ(document.GetInt64("[7]"), 7);   // _wtoi64 does
  EXPECT_DOUBLE_EQ(document.GetNumber("[8]"), -35.0);
  EXPECT_EQ(document.GetInt("[9]"), INT32_MAX);
  EXPECT_EQ(document.GetInt64("[10]"), INT64_MIN);
  EXPECT_EQ(document.GetInt64("[11]"), INT64_MAX);
}

TEST(JsonAccessors, NumbersInFullWidthCharactersAreRead) {
  JsonDocument document;
  // "１２．５" and "　－３" (ideographic space, full-width minus) as UTF-16.
  ASSERT_TRUE(document.ParseWide(u"[\"\uFF11\uFF12\uFF0E\uFF15\", \"\u3000\uFF0D\uFF13\", \"\u4E00\"]"));
  EXPECT_DOUBLE_EQ(document.GetNumber("[0]"), 12.5);
  EXPECT_DOUBLE_EQ(document.GetNumberWide(u"[1]"), -3.0);
  EXPECT_DOUBLE_EQ(document.GetNumber("[2]"), 0.0);
}

TEST(JsonAccessors, TopLevelScalarIsReadWithTheEmptyPath) {
  JsonDocument document;
  ASSERT_TRUE(document.Parse(R"("only")"));
  EXPECT_EQ(document.GetText(""), "only");
  EXPECT_FALSE(document.Exists(""));
}

TEST_F(PathQueries, KeysAndChildrenInMemberOrder) {
  std::vector<std::string> keys = {"old"};
  EXPECT_EQ(document_.GetKeys("o", keys), 2);
  EXPECT_EQ(keys, (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(document_.GetKeys("e", keys), 0);
  EXPECT_TRUE(keys.empty());
  keys = {"untouched"};
  EXPECT_EQ(document_.GetKeys("data", keys), 0);
  EXPECT_EQ(keys, std::vector<std::string>{"untouched"});
  std::vector<std::u16string> wideKeys;
  EXPECT_EQ(document_.GetKeysWide(u"data[0]", wideKeys), 1);
  EXPECT_EQ(wideKeys, std::vector<std::u16string>{u"name"});

  std::vector<JsonDocument> children(1);
  EXPECT_EQ(document_.GetChildren("arr", children), 0);
  EXPECT_EQ(children.size(), 1u);
  EXPECT_EQ(document_.GetChildren("data", children), 2);
  ASSERT_EQ(children.size(), 2u);
  EXPECT_EQ(children[1].GetText("name"), "b");
  EXPECT_EQ(document_.GetKey("data[1].name"), "name");
  EXPECT_EQ(document_.GetKey("data[1]"), "");
  EXPECT_EQ(document_.GetKey(""), "");
  EXPECT_EQ(children[0].GetKey(""), "");
  EXPECT_EQ(document_.GetChildren("n", children), 0);
}

TEST_F(PathQueries, SharedDocumentsSeeTheSameNodes) {
  JsonDocument item = document_.GetItem("", 1);  // the member "a.b" by position
  EXPECT_EQ(item.GetText(""), "x");
  EXPECT_EQ(document_.GetItem("", -1).GetRoot(), nullptr);
  EXPECT_EQ(document_.GetItem("data", 5).GetRoot(), nullptr);
  EXPECT_EQ(document_.GetMember("data", "name").GetRoot(), nullptr);  // not an object

  JsonDocument first = document_.GetMember("data[0]", "name");
  EXPECT_EQ(first.GetRoot()->String(), u"a");
  JsonDocument parent = document_.GetParent("data[0].name");
  EXPECT_EQ(parent.GetText("name"), "a");
  EXPECT_EQ(document_.GetParent("").GetRoot(), nullptr);
  EXPECT_EQ(parent.GetParent("").GetRoot(), document_.GetItem("data", -0).GetParent("").GetRoot());

  // Reads through a shared document see what was built through another.
  JsonDocument created = parent.GetOrCreate("extra");
  EXPECT_EQ(document_.GetType("data[0].extra"), JsonKind::Null);
  // The shared node outlives the document it came from.
  document_.Destroy();
  EXPECT_EQ(first.GetText(""), "a");
  EXPECT_EQ(parent.GetCount(""), 2);
}

TEST(JsonPath, GetOrCreateBuildsWhatIsMissing) {
  JsonDocument document;
  ASSERT_TRUE(document.Parse("{}"));
  JsonDocument last = document.GetOrCreate("x.y[2]");
  EXPECT_EQ(Dump(document), R"({"x":{"y":[null,null,null]}})");
  ASSERT_NE(last.GetRoot(), nullptr);
  EXPECT_EQ(last.GetRoot(), document.GetItem("x.y", 2).GetRoot());
  // Existing nodes of another kind are converted on the way.
  document.GetOrCreate("x.y.z");
  EXPECT_EQ(Dump(document), R"({"x":{"y":{"z":null}}})");
  document.GetOrCreate("x[1]");
  EXPECT_EQ(Dump(document), R"({"x":[null,null]})");
  EXPECT_EQ(document.GetOrCreate("x[-1]").GetRoot(), nullptr);
  EXPECT_EQ(document.GetOrCreate("").GetRoot(), document.GetRoot());
  EXPECT_EQ(JsonDocument().GetOrCreate("a").GetRoot(), nullptr);
  JsonDocument wide = document.GetOrCreateWide(u"\u540D.k");
  EXPECT_EQ(document.GetTypeWide(u"\u540D"), JsonKind::Object);
  EXPECT_EQ(document.GetType("\xC3\xFB.k"), JsonKind::Null);  // 名 in GBK
}

}  // namespace
}  // namespace velmora::json
