#include "state/listed_digest.h"

#include <gtest/gtest.h>

#include <string>

namespace velmora::state {
namespace {

TEST(ListedDigest, OnlyWholeHexDigestsCanBeCheckedAndEitherLetterCaseNamesTheSameBytes) {
  const std::string bytes("\x90\x01\x50\x98\x3c\xd2\x4f\xb0\xd6\x96\x3f\x7d\x28\xe1\x7f\x72", 16);  // MD5 of "abc"
  const ListedMd5 upper("900150983CD24FB0D6963F7D28E17F72");
  EXPECT_TRUE(upper.Checkable());
  EXPECT_EQ(upper.Text(), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_TRUE(upper.NamesBytes(bytes) && upper.AcceptsBytes(bytes));
  EXPECT_FALSE(upper.NamesBytes(bytes.substr(1)));
  EXPECT_FALSE(upper.AcceptsBytes(std::string(16, '\0')));

  // Too short, not hex, or nothing: never names a file, lets any computed digest through.
  for (const char* text : {"900150983CD24FB0D6963F7D28E17F7", "900150983cd24fb0d6963f7d28e17f7g", ""}) {
    const ListedMd5 odd(text);
    EXPECT_FALSE(odd.Checkable()) << text;
    EXPECT_FALSE(odd.NamesBytes(bytes) || odd.Names("900150983cd24fb0d6963f7d28e17f72")) << text;
    EXPECT_TRUE(odd.AcceptsBytes(bytes)) << text;
    EXPECT_FALSE(odd.AcceptsBytes({})) << "a digest that could not be computed";
  }
  // Hex of another length is lowered as before (staging names are made from it); other text,
  // such as GBK bytes that look like letters, is kept exactly.
  EXPECT_EQ(ListedMd5("ABC").Text(), "abc");
  EXPECT_EQ(ListedMd5("\xB0\x41 \xC4\x46").Text(), "\xB0\x41 \xC4\x46");
}

}  // namespace
}  // namespace velmora::state
