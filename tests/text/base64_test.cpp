#include "text/base64.h"

#include <gtest/gtest.h>

namespace velmora::text {
namespace {

TEST(Base64, RoundTripsEveryLengthAndEveryByte) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  for (std::size_t length = 0; length <= bytes.size(); length += 1 + length / 8) {
    const std::string part = bytes.substr(256 - length);
    EXPECT_EQ(Base64Decode(Base64Encode(part)), part) << length;
  }
  EXPECT_EQ(Base64Encode("foobar"), "Zm9vYmFy");
  EXPECT_EQ(Base64Encode("fo"), "Zm8=");
  EXPECT_EQ(Base64Encode("f"), "Zg==");
}

TEST(Base64, OnlyCanonicalTextDecodes) {
  for (const char* text : {"Zm9", "Zm9v YmFy", "Zm9v\nYmFy", "Zg=", "Z===", "Zm=v", "Zh==", "Zm9=", "Zm-_", "====",
                           "Zg==Zg=="}) {
    EXPECT_FALSE(Base64Decode(text).has_value()) << text;
  }
  EXPECT_EQ(Base64Decode(""), "");
}

}  // namespace
}  // namespace velmora::text
