// Planning range requests: merging, bounding the number of ranges at the least extra cost (checked
// against trying every choice on small inputs, and for speed on 100,000 ranges), and splitting
// into requests whose Range header stays within its bound.
#include "delta/byte_ranges.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdint>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace velmora::delta {
namespace {

using Ranges = std::vector<ByteRange>;
constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

// Every byte offset the ranges cover (for small offsets).
std::set<std::uint64_t> Covered(const Ranges& ranges) {
  std::set<std::uint64_t> bytes;
  for (const ByteRange& range : ranges) {
    for (std::uint64_t offset = range.first; offset < range.End(); ++offset) bytes.insert(offset);
  }
  return bytes;
}

std::uint64_t TotalLength(const Ranges& ranges) {
  std::uint64_t total = 0;
  for (const ByteRange& range : ranges) total += range.length;
  return total;
}

bool SortedAndApart(const Ranges& ranges) {
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    if (ranges[i].length == 0) return false;
    if (i > 0 && ranges[i].first <= ranges[i - 1].End()) return false;
  }
  return true;
}

TEST(ByteRanges, MergeJoinsOverlappingTouchingAndNearRangesAndDropsEmptyOnes) {
  EXPECT_EQ(MergeRanges({{50, 10}, {0, 10}, {10, 5}, {20, 0}, {55, 2}, {3, 4}}, 0),
            (Ranges{{0, 15}, {50, 10}}))
      << "unsorted, touching (0-9 and 10-14), inside another (3-6, 55-56), empty";
  // A gap of exactly joinGap is joined, one byte more is not.
  EXPECT_EQ(MergeRanges({{0, 10}, {15, 5}}, 5), (Ranges{{0, 20}}));
  EXPECT_EQ(MergeRanges({{0, 10}, {16, 5}}, 5), (Ranges{{0, 10}, {16, 5}}));
  // A later-starting range that ends first does not shorten the merged one.
  EXPECT_EQ(MergeRanges({{0, 100}, {10, 5}, {90, 20}}, 0), (Ranges{{0, 110}}));
  EXPECT_TRUE(MergeRanges({}, 10).empty());
  EXPECT_TRUE(MergeRanges({{7, 0}}, 10).empty());
}

TEST(ByteRanges, RangesNearTheTopOfTheOffsetsNeverWrapAround) {
  EXPECT_EQ((ByteRange{kMax - 5, 100}.End()), kMax);
  EXPECT_EQ(MergeRanges({{kMax - 10, 100}, {0, 1}}, kMax), (Ranges{{0, kMax}}))
      << "a huge join gap and a length past the top";
  EXPECT_EQ(MergeRanges({{kMax - 10, 100}, {5, 1}}, 0), (Ranges{{5, 1}, {kMax - 10, 10}}));
  EXPECT_TRUE(MergeRanges({{kMax, 3}}, 0).empty()) << "no byte can be addressed there";
  EXPECT_EQ(RangeHeaderValue({{kMax - 10, 100}}), "bytes=18446744073709551605-18446744073709551614");
}

TEST(ByteRanges, LimitJoinsAcrossTheSmallestGaps) {
  const Ranges merged = {{0, 10}, {30, 10}, {45, 5}, {100, 10}, {112, 3}};  // gaps 20, 5, 50, 2
  EXPECT_EQ(LimitRangeCount(merged, 5), merged);
  EXPECT_EQ(LimitRangeCount(merged, 9), merged);
  EXPECT_EQ(LimitRangeCount(merged, 3), (Ranges{{0, 10}, {30, 20}, {100, 15}}));
  EXPECT_EQ(LimitRangeCount(merged, 2), (Ranges{{0, 50}, {100, 15}}));
  EXPECT_EQ(LimitRangeCount(merged, 1), (Ranges{{0, 115}}));
  EXPECT_EQ(LimitRangeCount(merged, 0), (Ranges{{0, 115}})) << "asking for nothing would lose the bytes";
  EXPECT_TRUE(LimitRangeCount({}, 3).empty());
  // Input that is not merged yet is merged first.
  EXPECT_EQ(LimitRangeCount({{112, 3}, {100, 10}, {105, 2}, {0, 10}}, 5), (Ranges{{0, 10}, {100, 10}, {112, 3}}));
}

// On small random inputs the result covers every wanted byte and costs no more extra bytes than
// the best of all possible choices of gaps to join.
TEST(ByteRanges, LimitCostsNoMoreThanTheBestChoice) {
  std::mt19937 generator(11);
  for (int round = 0; round < 300; ++round) {
    Ranges ranges;
    const std::size_t count = 1 + generator() % 8;
    for (std::size_t i = 0; i < count; ++i) ranges.push_back({generator() % 200, generator() % 20});
    const Ranges merged = MergeRanges(ranges, 0);
    const std::size_t maxRanges = 1 + generator() % 4;
    const Ranges limited = LimitRangeCount(ranges, maxRanges);

    ASSERT_TRUE(SortedAndApart(limited)) << "round " << round;
    EXPECT_LE(limited.size(), std::max<std::size_t>(maxRanges, merged.empty() ? 0 : 1));
    const std::set<std::uint64_t> wanted = Covered(merged);
    const std::set<std::uint64_t> fetched = Covered(limited);
    EXPECT_TRUE(std::includes(fetched.begin(), fetched.end(), wanted.begin(), wanted.end())) << "round " << round;

    // Every set of gaps to join that leaves at most maxRanges ranges; the cheapest one's cost.
    const std::size_t gaps = merged.empty() ? 0 : merged.size() - 1;
    std::uint64_t best = kMax;
    for (std::uint32_t joined = 0; joined < (1u << gaps); ++joined) {
      if (merged.size() - static_cast<std::size_t>(std::popcount(joined)) > maxRanges) continue;
      std::uint64_t cost = 0;
      for (std::size_t g = 0; g < gaps; ++g) {
        if ((joined >> g) & 1u) cost += merged[g + 1].first - merged[g].End();
      }
      best = std::min(best, cost);
    }
    if (!merged.empty()) {
      EXPECT_EQ(limited.size(), std::min(maxRanges, merged.size()));
      EXPECT_EQ(TotalLength(limited) - TotalLength(merged), best) << "round " << round;
    }
  }
}

TEST(ByteRanges, LimitHandlesAHundredThousandRangesQuickly) {
  std::mt19937 generator(12);
  Ranges ranges;
  std::uint64_t offset = 0;
  for (int i = 0; i < 100000; ++i) {
    offset += 1 + generator() % 5000;  // the gap before
    const std::uint64_t length = 1 + generator() % 4000;
    ranges.push_back({offset, length});
    offset += length;
  }
  const Ranges merged = MergeRanges(ranges, 0);
  ASSERT_EQ(merged.size(), 100000u);
  const auto start = std::chrono::steady_clock::now();
  const Ranges limited = LimitRangeCount(merged, 100);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(limited.size(), 100u);
  EXPECT_TRUE(SortedAndApart(limited));
  EXPECT_EQ(limited.front().first, merged.front().first);
  EXPECT_EQ(limited.back().End(), merged.back().End());
  // A quadratic join takes minutes here (seconds under Wine); n log n takes milliseconds.
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 2000);
}

TEST(ByteRanges, HeaderValuesUseInclusiveEnds) {
  EXPECT_EQ(RangeHeaderValue({{0, 100}, {200, 100}}), "bytes=0-99,200-299");
  EXPECT_EQ(RangeHeaderValue({{5, 1}}), "bytes=5-5");
  EXPECT_EQ(RangeHeaderValue({{5, 0}, {9, 2}}), "bytes=9-10");
  EXPECT_EQ(RangeHeaderValue({}), "");
}

TEST(ByteRanges, RequestsKeepTheirHeaderWithinTheBoundAndTheRangesInOrder) {
  std::mt19937 generator(13);
  Ranges ranges;
  std::uint64_t offset = 0;
  for (int i = 0; i < 5000; ++i) {
    offset += 1 + generator() % 100000000;  // offsets of 1 to 12 digits
    ranges.push_back({offset, 1 + generator() % 1000});
    offset = ranges.back().End();
  }
  for (const std::size_t bound : {std::size_t{40}, std::size_t{1000}, kMaxRangeHeaderBytes}) {
    const std::vector<Ranges> requests = GroupIntoRequests(ranges, bound);
    Ranges joined;
    for (std::size_t i = 0; i < requests.size(); ++i) {
      ASSERT_FALSE(requests[i].empty());
      EXPECT_LE(RangeHeaderValue(requests[i]).size(), bound) << "request " << i;
      // Filled as far as the bound allows: the next request's first range would not have fit.
      if (i + 1 < requests.size()) {
        Ranges more = requests[i];
        more.push_back(requests[i + 1].front());
        EXPECT_GT(RangeHeaderValue(more).size(), bound) << "request " << i;
      }
      joined.insert(joined.end(), requests[i].begin(), requests[i].end());
    }
    EXPECT_EQ(joined, ranges) << "bound " << bound;
  }
}

TEST(ByteRanges, RequestsAtTheBoundsEdge) {
  const Ranges ranges = {{0, 10}, {20, 10}};  // "bytes=0-9,20-29" is 15 bytes
  EXPECT_EQ(GroupIntoRequests(ranges, 15).size(), 1u);
  EXPECT_EQ(GroupIntoRequests(ranges, 14), (std::vector<Ranges>{{{0, 10}}, {{20, 10}}}));
  // A range that alone is too long still gets a request; the empty one is left out.
  EXPECT_EQ(GroupIntoRequests({{1000000, 1}, {7, 0}, {2000000, 1}}, 5),
            (std::vector<Ranges>{{{1000000, 1}}, {{2000000, 1}}}));
  EXPECT_TRUE(GroupIntoRequests({}, 100).empty());
  EXPECT_TRUE(GroupIntoRequests({{3, 0}}, 100).empty());
}

}  // namespace
}  // namespace velmora::delta
