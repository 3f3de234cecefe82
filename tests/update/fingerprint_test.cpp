#include "update/fingerprint.h"

#include <gtest/gtest.h>

#include "platform/hash.h"
#include "support/temp_dir.h"

namespace velmora::update {
namespace {

// "你懒得输入，我就写死，略略" in GBK.
const std::string kSentenceGbk =
    "\xC4\xE3\xC0\xC1\xB5\xC3\xCA\xE4\xC8\xEB\xA3\xAC\xCE\xD2\xBE\xCD\xD0\xB4\xCB\xC0\xA3\xAC\xC2\xD4\xC2\xD4";

TEST(Md5Hex, KnownDigests) {
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Hex("abc", true), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(Md5Hex("abc", false, true), "3cd24fb0d6963f7d");
  EXPECT_EQ(Md5Hex("abc", true, true), "3CD24FB0D6963F7D");
  EXPECT_EQ(Md5Hex(kSentenceGbk), "917b41c1b5ace220c8b4dcacd5857727");
  EXPECT_EQ(Md5Hex(std::string("a\0b", 3)), "70350f6027bce3713f6b76473084309b");  // zero bytes are data
}

TEST(HashBytes, UpperCaseHexOfTheDigest) {
  EXPECT_EQ(HashBytes("abc", kCalgMd5, 16), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(HashBytes("abc", 0x8004, 20), "A9993E364706816ABA3E25717850C26C9CD0D89D");  // CALG_SHA1
}

TEST(HashBytes, FailuresGiveEmptyText) {
  EXPECT_EQ(HashBytes("abc", 0x1234, 16), "");     // no such algorithm
  EXPECT_EQ(HashBytes("abc", kCalgMd5, 8), "");    // digest buffer too small
  EXPECT_EQ(Md5Hex("abc", false, true).size(), 16u);
}

TEST(HashBytes, ALargerBufferKeepsTheDigestsOwnLength) {
  EXPECT_EQ(HashBytes("abc", kCalgMd5, 32), "900150983CD24FB0D6963F7D28E17F72");
}

TEST(Md5HexOfFile, MatchesMd5HexOfTheBytes) {
  testing::TempDir dir;
  // Larger than one read, and not a multiple of it.
  std::string bytes;
  for (std::uint32_t i = 0; i < (3u << 20) + 12345; ++i) bytes.push_back(static_cast<char>((i * 7919u) >> 3));
  const std::string path = dir.WriteFile("big.bin", bytes);
  EXPECT_EQ(Md5HexOfFile(path), Md5Hex(bytes));
  EXPECT_EQ(Md5HexOfFile(dir.WriteFile("empty.bin", "")), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Md5HexOfFile, MissingFileHashesLikeEmptyData) {
  testing::TempDir dir;
  EXPECT_EQ(Md5HexOfFile(dir.NarrowPath("missing.dll")), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5HexOfFile(""), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Md5HexOfFile, ReadsChineseNamesAndBackslashPaths) {
  testing::TempDir dir;
  // "Bin\更新.dat": a GBK name below a subdirectory, written with the program's "\" separator.
  const std::string path = dir.WriteFile("Bin\\\xB8\xFC\xD0\xC2.dat", "abc");
  EXPECT_EQ(Md5HexOfFile(path), "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace
}  // namespace velmora::update


namespace velmora::update {
namespace {

TEST(HashComputation, TheDigestSoFarLeavesTheComputationGoingOn) {
  auto lowerHexOf = [](std::string_view data, std::uint32_t algorithm, std::uint32_t length) {
    return LowerCaseDigest(HashBytes(data, algorithm, length));
  };
  for (const auto& [algorithm, length] : {std::pair{kCalgMd5, kMd5DigestLength}, {kCalgSha256, kSha256DigestLength}}) {
    platform::HashComputation hash(algorithm);
    hash.Add("ab");
    EXPECT_EQ(LowerHexOfDigest(hash.DigestSoFar(length)), lowerHexOf("ab", algorithm, length));
    hash.Add("c");
    EXPECT_EQ(LowerHexOfDigest(hash.DigestSoFar(length)), lowerHexOf("abc", algorithm, length));
    EXPECT_EQ(LowerHexOfDigest(hash.Finish(length)), lowerHexOf("abc", algorithm, length));
  }
}

}  // namespace
}  // namespace velmora::update
