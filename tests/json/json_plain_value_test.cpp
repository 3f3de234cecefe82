// Values written plainly inside arrays and objects ("key": 12, "text", true) are read by a fast
// path of the parser; a value standing alone is read by the general token rules. Both must give
// the same kind, value and text form, whatever the length of the number and wherever it stands.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "json/json_document.h"
#include "json_test_support.h"

namespace velmora::json {
namespace {

using testing::Joined;
using testing::Parsed;

// Integers of 1 to 22 digits (past the 18 read without overflow checks, and past 64 bits), with
// and without a sign, leading zeros included.
std::vector<std::string> IntegerTokens() {
  std::mt19937 random(7);
  std::vector<std::string> tokens;
  for (int digits = 1; digits <= 22; ++digits) {
    for (const char* sign : {"", "-"}) {
      for (int sample = 0; sample < 4; ++sample) {
        std::string token = sign;
        for (int k = 0; k < digits; ++k) token.push_back(static_cast<char>('0' + random() % 10));
        if (sample == 0) token.back() = '9';
        if (sample == 1) token[token.size() - static_cast<std::size_t>(digits)] = '0';
        tokens.push_back(token);
      }
    }
  }
  tokens.insert(tokens.end(), {"9223372036854775807", "-9223372036854775808", "99999999999999999999", "-0", "000"});
  return tokens;
}

void ExpectSameAsAlone(const JsonDocument& document, const std::string& path, const std::string& token) {
  const JsonDocument alone = Parsed(token);
  EXPECT_EQ(document.GetType(path), alone.GetType("")) << token;
  EXPECT_EQ(document.GetInt64(path), alone.GetInt64("")) << token;
  EXPECT_EQ(document.GetInt(path), alone.GetInt("")) << token;
  EXPECT_EQ(document.GetNumber(path), alone.GetNumber("")) << token;
  EXPECT_EQ(document.GetText(path), alone.GetText("")) << token;
}

TEST(JsonPlainValue, IntegersReadAsAloneAtAnyLengthAndPlace) {
  for (const std::string& token : IntegerTokens()) {
    // First in the text (few units before it), and after a long run of other text.
    const JsonDocument near = Parsed(Joined("[", token, "]"));
    ExpectSameAsAlone(near, "[0]", token);
    const JsonDocument far = Parsed(Joined(R"({"a long key to read past":"and a long text value",  "k" : )", token, " }"));
    ExpectSameAsAlone(far, "k", token);
    const JsonDocument listed = Parsed(Joined("[1,\n  ", token, "\t,", token, "]"));
    ExpectSameAsAlone(listed, "[1]", token);
    ExpectSameAsAlone(listed, "[2]", token);
  }
}

TEST(JsonPlainValue, OtherValuesReadAsAlone) {
  for (const std::string token : {"1.5", "-2e3", "1e+5", "1-2", "1.2.3", "--1", "1e5e5", "-", "1.", "1e", "1.e5", "-.5",
                                  "1e5.5", "1E+", "1e-5-", "0x1", "12345678901234567.5", "true", "false", "null",
                                  "truex", "nul", "\"text\"", "\"it's\"", "\"\"", "\"a\\\"b\"", "'single'"}) {
    const JsonDocument alone = [&token] {
      JsonDocument document;
      document.Parse(token);
      return document;
    }();
    // Near the start of the text, and after enough text for the eight-unit reads to look back.
    const std::pair<std::string, const char*> placed[] = {
        {Joined("[", token, "]"), "[0]"}, {Joined("[0, ", token, " ,1]"), "[1]"}, {Joined("[\"a text to read past\", ", token, "]"), "[1]"}};
    for (const auto& [text, path] : placed) {
      JsonDocument document;
      const bool parsed = document.Parse(text);
      if (!parsed) {
        // Tokens that are no value fail in a container as they do alone.
        EXPECT_NE(alone.GetType(""), JsonKind::Integer) << token;
        continue;
      }
      EXPECT_EQ(document.GetType(path), alone.GetType("")) << text;
      EXPECT_EQ(document.GetText(path), alone.GetText("")) << text;
      EXPECT_EQ(document.GetNumber(path), alone.GetNumber("")) << text;
    }
  }
}

TEST(JsonPlainValue, MembersAfterPlainOnesKeepTheGeneralRules) {
  // A plain member, then members the fast path leaves to the general scan: escapes, single
  // quotes, unquoted keys, an empty key, a token glued to a string, and a repeated key.
  JsonDocument document;
  EXPECT_TRUE(document.Parse(R"({"a":1,"b\"c":2,'d':3,e:4,"f":"x\"y","g":1,"a":5})"));
  EXPECT_EQ(document.ToJson(), R"({"a":5,"b\"c":2,"d":3,"e":4,"f":"x\"y","g":1})");
  ParseError error = ParseError::None;
  std::int32_t position = 0;
  EXPECT_FALSE(document.Parse(R"({"a":1,"":2})", false, &error, &position));
  EXPECT_EQ(error, ParseError::BadObject);
  EXPECT_FALSE(document.Parse(R"(["a"b,1])", false, &error, &position));
  EXPECT_EQ(error, ParseError::BadValue);
  EXPECT_EQ(position, 1);
  EXPECT_FALSE(document.Parse(R"({"a":1,"b":})", false, &error, &position));
  EXPECT_EQ(error, ParseError::BadValue);
}

}  // namespace
}  // namespace velmora::json
