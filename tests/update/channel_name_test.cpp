#include "update/channel_name.h"

#include <gtest/gtest.h>

#include <string>

namespace velmora::update {
namespace {

TEST(IsChannelName, AcceptsLowerCaseLettersAndDigitsBeginningWithALetter) {
  for (const char* name : {"a", "beta", "rc2", "default", "z9", "abcdefghijklmnop" /* 16 */}) {
    EXPECT_TRUE(IsChannelName(name)) << name;
  }
}

TEST(IsChannelName, RefusesEverythingElse) {
  const std::string refused[] = {
      "",
      "abcdefghijklmnopq",  // 17 characters
      "Beta", "BETA", "betA",
      "2beta", "0",
      "beta-1", "beta_1", "beta.1", "beta 1", " beta", "beta ", "beta\n",
      "..", "../x", "a/b", "a\\b", "a:b",
      "b\xC3\xA9ta",          // a letter outside ASCII (UTF-8)
      "\xE6\xB5\x8B\xE8\xAF\x95",  // Chinese (UTF-8)
      std::string("beta\0x", 6),   // a zero byte inside
  };
  for (const std::string& name : refused) {
    EXPECT_FALSE(IsChannelName(name)) << name;
  }
}

}  // namespace
}  // namespace velmora::update
