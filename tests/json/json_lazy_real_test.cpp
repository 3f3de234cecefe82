// Parsed reals inside containers keep only their text form and are read from it on demand; a
// real at the top level, or one set by the program, keeps its converted value. Both must read
// the same, and copies, merges, sorts and edits must see the value the text stands for.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "json/json_document.h"
#include "json_test_support.h"

namespace velmora::json {
namespace {

using testing::Parsed;

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Tokens the parser takes as reals, including the odd ones it reads by the atof rule.
const char* const kRealTokens[] = {"1.5", "-65.613616999999977", "0.1", "2.5e-3", "1e400", "-1e400", "1e-400", "-0.0",
                                   "1.0000000000000002", "123456789012345678901234567890.5", "1-2", ".", "-.5",
                                   "9.999999999999999e22", "4.9e-324", "2.75e1", "+3.5"};

TEST(JsonLazyReal, ContainedRealsReadLikeTopLevelOnes) {
  for (const char* token : kRealTokens) {
    JsonDocument alone = Parsed(token);  // converted while parsing
    JsonDocument inArray = Parsed(std::string("[") + token + "]");
    JsonDocument inObject = Parsed(std::string(R"({"k":)") + token + "}");
    ASSERT_EQ(alone.GetType(""), JsonKind::Real) << token;
    const JsonDocument item = inArray.GetItem("", 0);
    const JsonDocument member = inObject.GetMember("", "k");
    for (const auto& [document, path] : {std::pair<const JsonDocument*, const char*>{&inArray, "[0]"}, {&inObject, "k"}}) {
      ASSERT_EQ(document->GetType(path), JsonKind::Real) << token;
      EXPECT_TRUE(SameBits(document->GetNumber(path), alone.GetNumber(""))) << token;
      EXPECT_EQ(document->GetInt(path), alone.GetInt("")) << token;
      EXPECT_EQ(document->GetInt64(path), alone.GetInt64("")) << token;
      EXPECT_EQ(document->GetBool(path), alone.GetBool("")) << token;
      EXPECT_EQ(document->GetText(path), token);
    }
    for (const JsonDocument* node : {&item, &member}) {
      ASSERT_NE(node->GetRoot(), nullptr) << token;
      EXPECT_TRUE(SameBits(node->GetRoot()->RealValue(), alone.GetRoot()->RealValue())) << token;
    }
  }
  EXPECT_EQ(Parsed("[2.5e-3]").GetNumber("[0]"), std::strtod("2.5e-3", nullptr));
  EXPECT_EQ(Parsed("[-65.613616999999977]").GetNumber("[0]"), std::strtod("-65.613616999999977", nullptr));
}

TEST(JsonLazyReal, CopiesMergesAndEditsKeepTheValue) {
  const double full = std::strtod("0.1234567890123456789", nullptr);
  JsonDocument parsed = Parsed(R"({"r":0.1234567890123456789,"list":[0.1234567890123456789]})");
  // A copy formats its text form from the value ("%.13g", shorter than the double) and keeps the value.
  JsonDocument clone = parsed.Clone("r");
  EXPECT_EQ(clone.ToJson(), "0.1234567890123");
  EXPECT_EQ(clone.GetNumber(""), full);
  JsonDocument merged = Parsed("{}");
  EXPECT_TRUE(merged.MergeDocument("", parsed));
  EXPECT_EQ(merged.GetNumber("r"), full);
  EXPECT_EQ(merged.GetNumber("list[0]"), full);
  EXPECT_EQ(merged.ToJson(), R"({"r":0.1234567890123,"list":[0.1234567890123]})");
  // A value set by the program is kept whole even where it replaces a parsed real.
  EXPECT_TRUE(parsed.SetNumber("list[0]", 0.98765432109876543));
  EXPECT_EQ(parsed.GetNumber("list[0]"), 0.98765432109876543);
  EXPECT_EQ(parsed.GetText("list[0]"), "0.9876543210988");
  EXPECT_TRUE(parsed.SetInt64("r", 7));
  EXPECT_EQ(parsed.GetNumber("r"), 7.0);
  parsed.ClearValue("list[0]");
  EXPECT_EQ(parsed.GetNumber("list[0]"), 0.0);
  EXPECT_EQ(parsed.ToJson(), R"({"r":7,"list":[0]})");
}

TEST(JsonLazyReal, SortsCompareTheReadValues) {
  const auto byReal = [](const JsonNode& first, const JsonNode& second, std::int32_t direction) -> std::int32_t {
    const double a = first.RealValue();
    const double b = second.RealValue();
    return direction * (a < b ? -1 : (a > b ? 1 : 0));
  };
  for (bool shell : {false, true}) {
    JsonDocument document = Parsed("[3.25,-1.5,2.75e1,0.125,1e-300]");
    document.Sort("", byReal, 1, shell);
    EXPECT_EQ(document.ToJson(), "[-1.5,1e-300,0.125,3.25,2.75e1]");
    EXPECT_EQ(document.GetNumber("[4]"), 27.5);
  }
}

TEST(JsonLazyReal, ReadsFromSeveralThreads) {
  std::string text = "[";
  for (int i = 0; i < 200; ++i) text += std::to_string(i) + ".25,";
  text += "0.5]";
  const JsonDocument document = Parsed(text);
  std::vector<std::thread> readers;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&document, &wrong, t] {
      for (int i = 0; i < 200; ++i) {
        if (document.GetNumber("[" + std::to_string(i) + "]") != i + 0.25) ++wrong[static_cast<std::size_t>(t)];
      }
    });
  }
  for (std::thread& reader : readers) reader.join();
  for (int count : wrong) EXPECT_EQ(count, 0);
}

}  // namespace
}  // namespace velmora::json
