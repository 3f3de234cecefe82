#include "manifest_member_edit.h"

#include <gtest/gtest.h>

namespace velmora::release {
namespace {

std::optional<std::string> Set(const std::string& text, const std::vector<MemberValue>& members, std::string& error) {
  return SetTopLevelMembers(text, members, error);
}

// Whatever wrote the manifest, only the named top-level values change: the entries keep their
// escapes, spacing and order, and a member of the same name inside an entry is not touched.
TEST(SetTopLevelMembersTest, ChangesOnlyTheNamedTopLevelValuesAndKeepsEveryOtherByte) {
  const std::string data =
      "\"data\" : [ {\"name\":\"\\u4e2d.dll\",\"url\":\"http:\\/\\/h\\/a\",\"serial\":1,\"rollout\":\"x\"} ]";
  const std::string text = "{\r\n\t\"run\":\"App.exe\",\r\n\t\"serial\" : 41,\"expires\":\"2027-01-06T12:00:00Z\",\r\n\t" +
                           data + "\r\n}\r\n";
  std::string error;
  const std::optional<std::string> edited =
      Set(text, {{"serial", "42"}, {"rollout", "50"}, {"rolloutSerial", "41"}}, error);
  ASSERT_TRUE(edited) << error;
  EXPECT_EQ(*edited, "{\r\n\t\"run\":\"App.exe\",\r\n\t\"serial\" : 42,\"expires\":\"2027-01-06T12:00:00Z\",\r\n\t"
                     "\"rollout\":50,\"rolloutSerial\":41," +
                         data + "\r\n}\r\n");

  // A value replaced by a longer and a shorter one, a text among them.
  const std::optional<std::string> again =
      Set(*edited, {{"rollout", "5"}, {"expires", "\"2027-12-31T00:00:00Z\""}, {"serial", "1000000"}}, error);
  ASSERT_TRUE(again) << error;
  EXPECT_EQ(*again, "{\r\n\t\"run\":\"App.exe\",\r\n\t\"serial\" : 1000000,\"expires\":\"2027-12-31T00:00:00Z\",\r\n\t"
                    "\"rollout\":5,\"rolloutSerial\":41," +
                        data + "\r\n}\r\n");
}

TEST(SetTopLevelMembersTest, AMemberIsAddedAtTheEndWithoutDataAndIntoAnEmptyObject) {
  std::string error;
  EXPECT_EQ(Set("{\"run\":\"a\" }", {{"rollout", "1"}}, error), "{\"run\":\"a\",\"rollout\":1 }");
  EXPECT_EQ(Set("{ }", {{"rollout", "1"}, {"serial", "2"}}, error), "{\"rollout\":1,\"serial\":2 }");
}

TEST(SetTopLevelMembersTest, TextThatCannotBeChangedSafelyIsRefused) {
  const struct {
    const char* what;
    std::string text;
    std::string error;
  } cases[] = {
      {"the member twice", "{\"serial\":1,\"data\":[],\"serial\":2}", "holds `serial` twice"},
      {"an unquoted key", "{serial:1,\"data\":[]}", "not one JSON object in plain form"},
      {"single quotes", "{'serial':1,\"data\":[]}", "not one JSON object in plain form"},
      {"a missing value", "{\"serial\":,\"data\":[]}", "not one JSON object in plain form"},
      {"not an object", "[{\"serial\":1}]", "not one JSON object in plain form"},
      {"not closed", "{\"serial\":1,\"data\":[", "not one JSON object in plain form"},
      {"a text not closed", "{\"run\":\"a}", "not one JSON object in plain form"},
  };
  for (const auto& test : cases) {
    std::string error;
    EXPECT_FALSE(Set(test.text, {{"serial", "3"}}, error)) << test.what;
    EXPECT_NE(error.find(test.error), std::string::npos) << test.what << ": " << error;
  }
}

}  // namespace
}  // namespace velmora::release
