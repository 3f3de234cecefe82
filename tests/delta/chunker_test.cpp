// The content-defined chunker: sizes within the rule's bounds, cuts that do not depend on how the
// stream is fed, boundaries that an insertion or a deletion moves only near itself, and the same
// cuts on every platform (this test runs natively and under Wine with the same expected digest).
#include "delta/chunker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <random>
#include <string>

#include "update/fingerprint.h"

namespace velmora::delta {
namespace {

// Bytes that look like data: a fixed pseudo-random sequence (the same on every platform).
std::string SomeData(std::size_t size, std::uint32_t seed) {
  std::mt19937 generator(seed);
  std::string data(size, '\0');
  for (char& byte : data) byte = static_cast<char>(generator() & 0xFF);
  return data;
}

// How many bytes of `after` lie in chunks that `before` has too (the bytes a client holding
// `before` need not fetch).
std::uint64_t SharedBytes(const std::string& before, const std::string& after, const ChunkingRule& rule) {
  std::map<std::string, int> known;
  std::uint64_t offset = 0;
  for (const std::uint64_t length : ChunkLengths(before, rule)) {
    ++known[before.substr(offset, length)];
    offset += length;
  }
  std::uint64_t shared = 0;
  offset = 0;
  for (const std::uint64_t length : ChunkLengths(after, rule)) {
    if (known.count(after.substr(offset, length)) != 0) shared += length;
    offset += length;
  }
  return shared;
}

TEST(Chunker, ChunksStayWithinTheRuleAndAverageNearItsTarget) {
  const ChunkingRule rule;
  ASSERT_TRUE(rule.IsValid());
  const std::string data = SomeData(8 << 20, 1);
  const std::vector<std::uint64_t> lengths = ChunkLengths(data, rule);
  EXPECT_EQ(std::accumulate(lengths.begin(), lengths.end(), std::uint64_t{0}), data.size());
  for (std::size_t i = 0; i + 1 < lengths.size(); ++i) {
    EXPECT_GE(lengths[i], rule.minSize) << i;
    EXPECT_LE(lengths[i], rule.maxSize) << i;
  }
  const double average = static_cast<double>(data.size()) / static_cast<double>(lengths.size());
  EXPECT_GT(average, rule.averageSize * 0.75);
  EXPECT_LT(average, rule.averageSize * 1.5);
  const auto atMax = std::count(lengths.begin(), lengths.end(), rule.maxSize);
  EXPECT_LT(atMax, static_cast<std::ptrdiff_t>(lengths.size() / 50)) << "cut by content, not by the maximum";

  // Data with no content to cut by (all zeros) is cut at the maximum.
  const std::vector<std::uint64_t> zeros = ChunkLengths(std::string(300000, '\0'), rule);
  EXPECT_EQ(zeros, (std::vector<std::uint64_t>{65536, 65536, 65536, 65536, 37856}));
  EXPECT_TRUE(ChunkLengths("", rule).empty());
  EXPECT_EQ(ChunkLengths("short", rule), (std::vector<std::uint64_t>{5}));
}

TEST(Chunker, TheCutsDoNotDependOnHowTheStreamIsFed) {
  const std::string data = SomeData(1 << 20, 2);
  const std::vector<std::uint64_t> whole = ChunkLengths(data);
  std::mt19937 generator(3);
  for (int round = 0; round < 5; ++round) {
    Chunker chunker;
    std::vector<std::uint64_t> pieces;
    const auto add = [&pieces](std::uint64_t length) { pieces.push_back(length); };
    for (std::size_t offset = 0; offset < data.size();) {
      const std::size_t size = std::min<std::size_t>(1 + generator() % 70000, data.size() - offset);
      chunker.Feed(std::string_view(data).substr(offset, size), add);
      offset += size;
    }
    chunker.Finish(add);
    EXPECT_EQ(pieces, whole) << "round " << round;
  }
}

TEST(Chunker, AnInsertionOrADeletionMovesOnlyTheChunksAroundIt) {
  const ChunkingRule rule;
  const std::string data = SomeData(4 << 20, 4);
  std::string inserted = data;
  inserted.insert(1000, SomeData(1000, 5));
  std::string deleted = data;
  deleted.erase(2 << 20, 5000);
  std::string overwritten = data;
  overwritten.replace(3 << 20, 5 << 10, SomeData(5 << 10, 6));
  for (const auto& [what, changed] : {std::pair{"1,000 bytes inserted near the start", &inserted},
                                      {"5,000 bytes deleted in the middle", &deleted},
                                      {"5 KiB overwritten", &overwritten}}) {
    const std::uint64_t shared = SharedBytes(data, *changed, rule);
    // At most the chunks that hold the change and one neighbour on each side are new.
    EXPECT_GE(shared + 4 * rule.maxSize, changed->size()) << what << ": " << changed->size() - shared << " new bytes";
  }
}

TEST(Chunker, EveryPlatformCutsTheSameBytesAlike) {
  const std::vector<std::uint64_t> lengths = ChunkLengths(SomeData(1 << 20, 7));
  std::string text;
  for (const std::uint64_t length : lengths) text += std::to_string(length) + ",";
  EXPECT_EQ(update::Md5Hex(text), "8a34d7af159d69558864a10d6d5af400") << lengths.size() << " chunks: " << text.substr(0, 200);
}

TEST(Chunker, RulesAreChecked) {
  EXPECT_TRUE((ChunkingRule{4096, 16384, 65536}.IsValid()));
  EXPECT_FALSE((ChunkingRule{4096, 12000, 65536}.IsValid())) << "an average that is no power of two";
  EXPECT_FALSE((ChunkingRule{16384, 16384, 65536}.IsValid()));
  EXPECT_FALSE((ChunkingRule{4096, 16384, 16384}.IsValid()));
  EXPECT_FALSE((ChunkingRule{0, 16384, 65536}.IsValid()));
  EXPECT_FALSE((ChunkingRule{16, 32, 65536}.IsValid()));
}

}  // namespace
}  // namespace velmora::delta
