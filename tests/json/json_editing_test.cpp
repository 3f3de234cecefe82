#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/json_document.h"
#include "json_test_support.h"

namespace velmora::json {
namespace {

using testing::Parsed;

TEST(JsonEditing, SettersBuildMissingPathsAndMakeTextForms) {
  JsonDocument document = Parsed("{}");
  EXPECT_TRUE(document.SetText("a.b[1]", "x"));
  EXPECT_EQ(document.ToJson(), R"({"a":{"b":[null,"x"]}})");
  EXPECT_TRUE(document.SetNumber("r", 100.0));
  EXPECT_EQ(document.GetType("r"), JsonKind::Real);
  EXPECT_EQ(document.GetLiteral("r"), "100");
  EXPECT_TRUE(document.SetNumber("r", 0.1));
  EXPECT_EQ(document.ToJson("r"), "0.1");
  EXPECT_TRUE(document.SetNumber("r", 1e20));
  EXPECT_EQ(document.ToJson("r"), "1e+20");
  EXPECT_TRUE(document.SetInt("i", -5));
  EXPECT_EQ(document.GetType("i"), JsonKind::Integer);
  EXPECT_EQ(document.GetLiteral("i"), "-5");
  EXPECT_EQ(document.GetInt64("i"), -5);
  EXPECT_TRUE(document.SetInt64Wide(u"j", INT64_MIN));
  EXPECT_EQ(document.ToJson("j"), "-9223372036854775808");
  EXPECT_TRUE(document.SetBool("t", true));
  EXPECT_TRUE(document.SetNullWide(u"a.b[0]"));
  EXPECT_EQ(document.ToJson(), R"({"a":{"b":[null,"x"]},"r":1e+20,"i":-5,"j":-9223372036854775808,"t":true})");
  // A setter keeps the node's place: key, parent and position.
  EXPECT_TRUE(document.SetText("a", "flat"));
  std::vector<std::string> keys;
  EXPECT_EQ(document.GetKeys("", keys), 5);
  EXPECT_EQ(document.ToJson().substr(0, 12), R"({"a":"flat",)");
  EXPECT_FALSE(JsonDocument().SetText("a", "x"));
  EXPECT_FALSE(document.SetText("x[-1]", "y"));
}

TEST(JsonEditing, ObjectAndArrayConversionsKeepOrDropContent) {
  JsonDocument document = Parsed(R"({"o":{"k":1},"a":[1,2]})");
  EXPECT_TRUE(document.SetObject("o"));
  EXPECT_EQ(document.ToJson("o"), R"({"k":1})");
  EXPECT_TRUE(document.SetArray("o"));
  EXPECT_EQ(document.ToJson("o"), "[]");
  EXPECT_TRUE(document.SetArray("a"));
  EXPECT_EQ(document.ToJson("a"), "[1,2]");
  document.ClearValue("a");
  EXPECT_EQ(document.ToJson("a"), "[]");
  EXPECT_EQ(document.GetType("a"), JsonKind::Array);
}

TEST(JsonEditing, RemovalOfMembersAndElements) {
  JsonDocument document = Parsed(R"({"a":1,"b":{"x":[1,2,3]},"c":3})");
  JsonDocument held = document.GetMember("", "b");
  EXPECT_TRUE(document.RemoveMember("", "b"));
  EXPECT_EQ(document.ToJson(), R"({"a":1,"c":3})");
  EXPECT_EQ(held.ToJson(), R"({"x":[1,2,3]})");  // another holder keeps it, without key and parent
  EXPECT_EQ(held.GetKey(""), "");
  EXPECT_EQ(held.GetParent("").GetRoot(), nullptr);
  EXPECT_FALSE(document.RemoveMember("", "b"));
  EXPECT_FALSE(document.RemoveMember("missing", "k"));  // creates the path, then finds a null
  EXPECT_EQ(document.ToJson(), R"({"a":1,"c":3,"missing":null})");

  EXPECT_TRUE(held.RemoveAt("x", 0));
  EXPECT_EQ(held.ToJson(), R"({"x":[2,3]})");
  EXPECT_FALSE(held.RemoveAt("x", 2));  // index equal to the count
  EXPECT_FALSE(held.RemoveAt("x", -1));
  EXPECT_FALSE(held.RemoveAt("", 0));  // an object is not converted
  EXPECT_EQ(held.ToJson(), R"({"x":[2,3]})");
}

TEST(JsonEditing, CopyInOperations) {
  JsonDocument document = Parsed("[1,2]");
  JsonDocument three = Parsed("3");
  EXPECT_TRUE(document.InsertDocument("", 0, three));
  EXPECT_EQ(document.ToJson(), "[3,1,2]");
  EXPECT_FALSE(document.InsertDocument("", 4, three));
  EXPECT_TRUE(document.InsertDocument("", 3, three));
  EXPECT_EQ(document.ToJson(), "[3,1,2,3]");

  JsonDocument one = Parsed("[1]");
  JsonDocument x = Parsed(R"({"x":1.50})");
  EXPECT_TRUE(one.SetItemDocument("", 4, x));
  EXPECT_EQ(one.ToJson(), R"([1,null,null,null,{"x":1.5}])");  // copies write numbers anew
  JsonDocument first = one.GetItem("", 0);
  EXPECT_TRUE(one.SetItemDocument("", 0, three));
  EXPECT_EQ(one.ToJson("[0]"), "3");
  EXPECT_EQ(first.ToJson(), "1");  // the replaced element lives on in its other holder
  EXPECT_FALSE(one.SetItemDocument("", -1, three));

  JsonDocument object = Parsed(R"({"a":1,"b":2})");
  EXPECT_TRUE(object.InsertMemberDocument("", 0, "z", three));
  EXPECT_EQ(object.ToJson(), R"({"z":3,"a":1,"b":2})");
  EXPECT_TRUE(object.InsertMemberDocument("", 0, "b", x));  // existing key: replaced where it is
  EXPECT_EQ(object.ToJson(), R"({"z":3,"a":1,"b":{"x":1.5}})");
  EXPECT_FALSE(object.InsertMemberDocument("", 5, "new", three));
  EXPECT_FALSE(object.InsertMemberDocument("", -1, "new", three));
  EXPECT_TRUE(object.SetMemberDocument("", "a", one));
  EXPECT_EQ(object.ToJson("a"), R"([3,null,null,null,{"x":1.5}])");
  EXPECT_FALSE(object.SetMemberDocument("", "q", JsonDocument()));
  EXPECT_TRUE(object.AppendDocument("list", three));  // a missing path becomes the array
  EXPECT_EQ(object.ToJson("list"), "[3]");
  // The source never changes.
  EXPECT_EQ(three.ToJson(), "3");
  EXPECT_EQ(x.ToJson(), R"({"x":1.50})");
}

TEST(JsonEditing, CopyingADocumentIntoItselfTakesTheTreeAsItWas) {
  JsonDocument document = Parsed(R"({"a":[1,{"b":2}]})");
  EXPECT_TRUE(document.AppendDocument("a", document));
  EXPECT_EQ(document.ToJson(), R"({"a":[1,{"b":2},{"a":[1,{"b":2}]}]})");
  JsonDocument inner = document.GetMember("", "a");
  EXPECT_TRUE(inner.AppendDocument("", inner));
  EXPECT_EQ(inner.GetCount(""), 4);
  EXPECT_TRUE(document.SetMemberDocument("", "a", document));
  EXPECT_EQ(document.GetCount("a.a"), 4);
  EXPECT_TRUE(document.AppendDocument("", document));  // the root becomes an array of its old self
  EXPECT_EQ(document.GetType(""), JsonKind::Array);
  EXPECT_EQ(document.GetCount(""), 1);
  EXPECT_EQ(document.GetCount("[0].a.a"), 4);
}

TEST(JsonEditing, MergeDocumentAndAppendAll) {
  JsonDocument document = Parsed(R"({"a":{"x":1},"b":2})");
  EXPECT_TRUE(document.MergeDocument("", Parsed(R"({"a":{"y":2},"c":3})")));
  EXPECT_EQ(document.ToJson(), R"({"a":{"y":2},"b":2,"c":3})");  // shallow: "a" replaced whole
  EXPECT_TRUE(document.MergeDocument("", Parsed("{}")));
  EXPECT_FALSE(document.MergeDocument("", Parsed("[1]")));
  EXPECT_TRUE(document.MergeDocument("", document));
  EXPECT_EQ(document.ToJson(), R"({"a":{"y":2},"b":2,"c":3})");

  EXPECT_TRUE(document.AppendAll("list", Parsed("[1,[2],3]")));
  EXPECT_TRUE(document.AppendAll("list", document.GetMember("", "list")));
  EXPECT_EQ(document.ToJson("list"), "[1,[2],3,1,[2],3]");
  EXPECT_FALSE(document.AppendAll("list", Parsed(R"({"a":1})")));
}

struct MergeCase {
  const char* target;
  const char* path;
  const char* text;
  bool addNew;
  bool result;
  const char* after;
};

const MergeCase kMergeCases[] = {
    {R"({"a":{"y":0}})", "", R"({"a":{"x":1},"b":2})", true, true, R"({"a":{"y":0,"x":1},"b":2})"},
    {R"({"a":{"y":0}})", "", R"({"a":{"x":1},"b":2})", false, false, R"({"a":{"y":0}})"},
    {R"({"a":{"y":0}})", "", R"({"a":{"y":5}})", false, true, R"({"a":{"y":5}})"},
    {R"({"a":{}})", "", "[1]", true, false, R"({"a":{}})"},  // the root cannot be replaced
    {R"({"a":{}})", "a", "[1]", true, true, R"({"a":[1]})"},
    {R"({"a":[1,2],"b":"s"})", "", R"({"a":{"k":true},"b":[3]})", false, true, R"({"a":{"k":true},"b":[3]})"},
    {R"({"a":1})", "", "{}", true, false, R"({"a":1})"},  // nothing merged
    {R"({"a":1})", "", "{oops", true, false, R"({"a":1})"},
    {R"({"a":{"b":{"c":1,"d":2}}})", "", R"({"a":{"b":{"d":3,"e":4}}})", false, true, R"({"a":{"b":{"c":1,"d":3}}})"},
    {R"({})", "n.m", R"({"k":1})", false, true, R"({"n":{"m":{"k":1}}})"},  // the new null member is replaced
};

TEST(JsonEditing, MergeTextFollowsTheMergeRule) {
  for (const MergeCase& c : kMergeCases) {
    JsonDocument document = Parsed(c.target);
    EXPECT_EQ(document.MergeText(c.path, c.text, false, c.addNew), c.result) << c.target << " <- " << c.text;
    EXPECT_EQ(document.ToJson(), c.after) << c.target << " <- " << c.text;
  }
}

TEST(JsonEditing, CloneIsADeepCopy) {
  JsonDocument document = Parsed(R"({"n":1.50,"o":{"k":[1,2]}})");
  JsonDocument number = document.Clone("n");
  EXPECT_EQ(number.ToJson(), "1.5");
  JsonDocument object = document.Clone("o");
  ASSERT_TRUE(object.SetInt("k[0]", 9));
  EXPECT_EQ(document.ToJson("o"), R"({"k":[1,2]})");
  EXPECT_EQ(object.GetParent("").GetRoot(), nullptr);
  EXPECT_EQ(document.Clone("new.path").ToJson(), "null");
  EXPECT_EQ(document.GetType("new.path"), JsonKind::Null);
  EXPECT_EQ(JsonDocument().Clone("").GetRoot(), nullptr);
}

TEST(JsonEditing, SortByKeyReordersMembersAndKeepsLookup) {
  JsonDocument document = Parsed(R"({"b":1,"c":2,"a":3})");
  EXPECT_TRUE(document.SortByKey("", false));
  EXPECT_EQ(document.ToJson(), R"({"a":3,"b":1,"c":2})");
  EXPECT_TRUE(document.SortByKey("", true));
  EXPECT_EQ(document.ToJson(), R"({"c":2,"b":1,"a":3})");
  EXPECT_EQ(document.GetInt("a"), 3);
  EXPECT_EQ(document.GetInt("[2]"), 3);
  EXPECT_TRUE(Parsed("{}").SortByKey("", false));
  EXPECT_FALSE(Parsed("[2,1]").SortByKey("", false));
  EXPECT_FALSE(document.SortByKey("missing", false));
  EXPECT_EQ(document.GetType("missing"), JsonKind::Raw);  // the sorts create nothing
}

std::int32_t ByValue(const JsonNode& first, const JsonNode& second, std::int32_t direction) {
  const std::int64_t a = first.IntegerValue();
  const std::int64_t b = second.IntegerValue();
  return direction * (a < b ? -1 : (a > b ? 1 : 0));
}

TEST(JsonEditing, BothSortsOrderArraysAndMembers) {
  const char* inputs[] = {"[]", "[5]", "[2,1]", "[3,3,3]", "[5,1,4,1,5,9,2,6,5,3,5,8,9,7,9,3,2,3,8,4]",
                          "[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17]", "[9,8,7,6,5,4,3,2,1,0,-1,-2]"};
  for (const char* input : inputs) {
    for (bool shell : {false, true}) {
      JsonDocument document = Parsed(input);
      JsonDocument before = document.Clone("");
      document.Sort("", ByValue, 1, shell);
      ASSERT_EQ(document.GetCount(""), before.GetCount("")) << input;
      for (std::int32_t i = 1; i < document.GetCount(""); ++i) {
        EXPECT_LE(document.GetInt64(testing::Joined("[", i - 1, "]")), document.GetInt64(testing::Joined("[", i, "]")))
            << input << (shell ? " shell" : " quick");
      }
      document.Sort("", ByValue, -1, shell);
      for (std::int32_t i = 1; i < document.GetCount(""); ++i) {
        EXPECT_GE(document.GetInt64(testing::Joined("[", i - 1, "]")), document.GetInt64(testing::Joined("[", i, "]")));
      }
    }
  }
  JsonDocument members = Parsed(R"({"x":3,"y":1,"z":2})");
  members.Sort("", ByValue, 1, false);
  EXPECT_EQ(members.ToJson(), R"({"y":1,"z":2,"x":3})");
  EXPECT_EQ(members.GetInt("x"), 3);
  members.Sort("x", ByValue, 1, true);  // a scalar: nothing happens
  EXPECT_EQ(members.ToJson(), R"({"y":1,"z":2,"x":3})");
  // A comparison that throws leaves every member in place.
  members.Sort("", [](const JsonNode&, const JsonNode&, std::int32_t) -> std::int32_t { throw 1; }, 0, false);
  EXPECT_EQ(members.GetCount(""), 3);
}

TEST(JsonEditing, DetachCutsTheRootOutOfItsTree) {
  JsonDocument document = Parsed(R"({"a":{"deep":[1,2]},"b":[true]})");
  JsonDocument member = document.GetMember("", "a");
  member.Detach();
  EXPECT_EQ(document.ToJson(), R"({"b":[true]})");
  EXPECT_EQ(member.ToJson(), R"({"deep":[1,2]})");
  EXPECT_EQ(member.GetKey(""), "");
  member.Detach();  // no parent: nothing to do
  JsonDocument element = document.GetItem("b", 0);
  element.Detach();
  EXPECT_EQ(document.ToJson(), R"({"b":[]})");
  EXPECT_EQ(element.ToJson(), "true");
  document.Destroy();
  EXPECT_EQ(member.GetInt("deep[1]"), 2);
}

TEST(JsonEditing, EditsThroughSharedDocumentsAreSeenByAll) {
  JsonDocument document = Parsed(R"({"list":[1]})");
  JsonDocument list = document.GetOrCreate("list");
  ASSERT_TRUE(list.AppendDocument("", Parsed("2")));
  EXPECT_EQ(document.ToJson(), R"({"list":[1,2]})");
  ASSERT_TRUE(document.SetText("list[0]", "one"));
  EXPECT_EQ(list.GetText("[0]"), "one");
}

}  // namespace
}  // namespace velmora::json
