// Trees far deeper than any stack: every operation walks them without recursion. Windows threads
// have 1 MiB stacks, so a recursive walk would fail long before 100,000 levels.
#include <gtest/gtest.h>

#include <string>

#include "json/json_document.h"

namespace velmora::json {
namespace {

constexpr int kDepth = 100000;

std::string NestedArrays(int depth) { return std::string(depth, '[') + "7" + std::string(depth, ']'); }

std::string NestedObjects(int depth) {
  std::string text;
  text.reserve(static_cast<std::size_t>(depth) * 6 + 8);
  for (int i = 0; i < depth; ++i) text += "{\"a\":";
  text += "1";
  text.append(static_cast<std::size_t>(depth), '}');
  return text;
}

std::string DeepPath(int depth) {
  std::string path;
  path.reserve(static_cast<std::size_t>(depth) * 2);
  for (int i = 0; i < depth; ++i) path += i == 0 ? "a" : ".a";
  return path;
}

TEST(DeepTrees, NestedArraysParseQueryAndFree) {
  JsonDocument document;
  ASSERT_TRUE(document.Parse(NestedArrays(kDepth)));
  EXPECT_EQ(document.GetCount(""), 1);
  std::string path;
  for (int i = 0; i < kDepth; ++i) path += "[0]";
  EXPECT_EQ(document.GetInt(path), 7);
  JsonDocument inner = document.GetItem("[0][0]", 0);
  EXPECT_EQ(inner.GetType(""), JsonKind::Array);
  document.Destroy();  // frees all but what `inner` holds
  EXPECT_EQ(inner.GetParent("").GetRoot(), nullptr);
}

TEST(DeepTrees, NestedObjectsParseQueryAndFree) {
  JsonDocument document;
  ASSERT_TRUE(document.Parse(NestedObjects(kDepth)));
  const std::string path = DeepPath(kDepth);
  EXPECT_EQ(document.GetInt(path), 1);
  EXPECT_TRUE(document.Exists(path));
  EXPECT_EQ(document.GetParent(path).GetKey(""), "a");
  // A failing parse of a deep text empties the same root again.
  EXPECT_FALSE(document.Parse(NestedObjects(kDepth).substr(0, 300000)));
  EXPECT_EQ(document.GetCount(""), 0);
}

TEST(DeepTrees, GetOrCreateBuildsADeepPathAndFreesIt) {
  JsonDocument document;
  ASSERT_TRUE(document.Parse("{}"));
  JsonDocument leaf = document.GetOrCreate(DeepPath(kDepth));
  ASSERT_NE(leaf.GetRoot(), nullptr);
  EXPECT_EQ(leaf.GetType(""), JsonKind::Null);
  EXPECT_TRUE(document.Reset("", false));
  EXPECT_EQ(leaf.GetType(""), JsonKind::Null);  // still held, detached from the freed tree
}

}  // namespace
}  // namespace velmora::json

namespace velmora::json {
namespace {

TEST(DeepTrees, WriteCopyMergeAndSortDeepTrees) {
  const std::string arrays = NestedArrays(kDepth);
  JsonDocument document;
  ASSERT_TRUE(document.Parse(arrays));
  EXPECT_EQ(document.ToJson(), arrays);
  EXPECT_EQ(document.ToJson("", true), arrays);  // arrays are never broken
  JsonDocument copy = document.Clone("");
  EXPECT_EQ(copy.ToJsonWide(u"").size(), arrays.size());
  EXPECT_TRUE(document.AppendDocument("", copy));
  EXPECT_EQ(document.GetCount(""), 2);
  document.Sort("[0]", [](const JsonNode&, const JsonNode&, std::int32_t) { return 0; }, 0, false);

  const std::string objects = NestedObjects(kDepth);
  JsonDocument merged;
  ASSERT_TRUE(merged.Parse(objects));
  // The same chain of members with a new leaf at the bottom: merged level by level.
  std::string text = objects;
  text.replace(text.find("1}"), 1, "{\"z\":2}");
  EXPECT_TRUE(merged.MergeText("", text, false, true));
  EXPECT_EQ(merged.GetInt(DeepPath(kDepth) + ".z"), 2);
  EXPECT_TRUE(merged.SetMemberDocument("", "again", merged));
  EXPECT_EQ(merged.ToJson("again").size(), text.size());
}

}  // namespace
}  // namespace velmora::json
