#include "release_digests.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "update/fingerprint.h"

namespace velmora::release {
namespace {

constexpr char kSha256OfAbc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
constexpr char kSha256OfNothing[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

// Both digests from one read, in list order, on several threads; the MD5 is exactly the update
// check's, also for a missing file.
TEST(ReleaseDigestsTest, BothDigestsOfEveryFileInListOrder) {
  velmora::testing::TempDir dir;
  const std::string big(700 * 1024 + 3, 'q');  // several 128 KiB pieces
  std::vector<std::string> paths{dir.WriteFile("abc.txt", "abc"), dir.WriteFile("empty.txt", ""),
                                 dir.NarrowPath("missing.txt"), dir.WriteFile("big.bin", big)};
  for (int i = 0; i < 20; ++i) paths.push_back(dir.WriteFile("f" + std::to_string(i), std::to_string(i)));
  update::ReplaceFingerprintThreadCount(4);
  std::size_t reports = 0;
  update::FingerprintOptions options;
  options.progress = [&reports](const update::FingerprintProgress&) { ++reports; };
  const std::vector<FileDigests> digests = DigestFiles(paths, true, options);
  update::ReplaceFingerprintThreadCount(0);

  ASSERT_EQ(digests.size(), paths.size());
  EXPECT_GE(reports, 1u);
  EXPECT_EQ(digests[0].sha256, kSha256OfAbc);
  EXPECT_EQ(digests[1].sha256, kSha256OfNothing);
  EXPECT_EQ(digests[2].state, update::FileReadState::Missing);
  EXPECT_EQ(digests[2].sha256, "");
  EXPECT_EQ(digests[3].bytesRead, big.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    EXPECT_EQ(digests[i].md5, update::Md5HexOfFile(paths[i])) << i;
    if (i != 2) {
      EXPECT_EQ(digests[i].state, update::FileReadState::Read) << i;
    }
  }
  EXPECT_EQ(DigestFiles({paths[0]}, false)[0].sha256, "");  // not asked for
}

}  // namespace
}  // namespace velmora::release
