#include "delta/byte_ranges.h"

#include <algorithm>
#include <limits>
#include <numeric>
#include <string_view>
#include <utility>

namespace velmora::delta {
namespace {

constexpr std::uint64_t kMaxOffset = std::numeric_limits<std::uint64_t>::max();
constexpr std::string_view kUnitPrefix = "bytes=";

std::size_t DecimalDigits(std::uint64_t value) {
  std::size_t digits = 1;
  for (; value >= 10; value /= 10) ++digits;
  return digits;
}

// A range that asks for nothing: no length, or one starting at the last representable offset (its
// end cannot be written).
bool IsEmpty(const ByteRange& range) { return range.End() == range.first; }

// The length of "first-last" for a non-empty range.
std::size_t RangeTextLength(const ByteRange& range) {
  return DecimalDigits(range.first) + 1 + DecimalDigits(range.End() - 1);
}

}  // namespace

std::uint64_t ByteRange::End() const {
  return length > kMaxOffset - first ? kMaxOffset : first + length;
}

std::vector<ByteRange> MergeRanges(std::vector<ByteRange> ranges, std::uint64_t joinGap) {
  std::erase_if(ranges, IsEmpty);
  std::sort(ranges.begin(), ranges.end(), [](const ByteRange& a, const ByteRange& b) { return a.first < b.first; });
  std::vector<ByteRange> merged;
  for (const ByteRange& range : ranges) {
    if (!merged.empty()) {
      ByteRange& last = merged.back();
      const std::uint64_t lastEnd = last.End();
      // Sorted by start, so range.first >= last.first; the gap is only positive past the end.
      if (range.first <= lastEnd || range.first - lastEnd <= joinGap) {
        last.length = std::max(lastEnd, range.End()) - last.first;
        continue;
      }
    }
    merged.push_back({range.first, range.End() - range.first});
  }
  return merged;
}

std::vector<ByteRange> LimitRangeCount(std::vector<ByteRange> merged, std::size_t maxRanges) {
  merged = MergeRanges(std::move(merged), 0);
  maxRanges = std::max<std::size_t>(maxRanges, 1);
  if (merged.size() <= maxRanges) return merged;

  // Joining two neighbours leaves every other gap as it was, so the cheapest result joins across
  // the (size - maxRanges) smallest gaps. Gap i lies between range i and range i + 1; equal gaps
  // are taken from the front so that the result does not depend on the sort's order.
  std::vector<std::size_t> gaps(merged.size() - 1);
  std::iota(gaps.begin(), gaps.end(), std::size_t{0});
  const auto gapBefore = [&merged](std::size_t i) { return merged[i + 1].first - merged[i].End(); };
  std::sort(gaps.begin(), gaps.end(), [&gapBefore](std::size_t a, std::size_t b) {
    return std::pair(gapBefore(a), a) < std::pair(gapBefore(b), b);
  });
  std::vector<bool> joined(gaps.size(), false);
  for (std::size_t i = 0; i < merged.size() - maxRanges; ++i) joined[gaps[i]] = true;

  std::vector<ByteRange> limited;
  limited.reserve(maxRanges);
  for (std::size_t i = 0; i < merged.size(); ++i) {
    if (i > 0 && joined[i - 1]) {
      limited.back().length = merged[i].End() - limited.back().first;
    } else {
      limited.push_back(merged[i]);
    }
  }
  return limited;
}

std::vector<std::vector<ByteRange>> GroupIntoRequests(const std::vector<ByteRange>& ranges,
                                                      std::size_t maxHeaderBytes) {
  std::vector<std::vector<ByteRange>> requests;
  std::size_t headerBytes = 0;  // of the last request's value
  for (const ByteRange& range : ranges) {
    if (IsEmpty(range)) continue;
    const std::size_t rangeLength = RangeTextLength(range);
    if (!requests.empty() && headerBytes + 1 + rangeLength <= maxHeaderBytes) {
      requests.back().push_back(range);
      headerBytes += 1 + rangeLength;  // ",first-last"
    } else {
      requests.push_back({range});
      headerBytes = kUnitPrefix.size() + rangeLength;
    }
  }
  return requests;
}

std::string RangeHeaderValue(const std::vector<ByteRange>& ranges) {
  std::string value;
  for (const ByteRange& range : ranges) {
    if (IsEmpty(range)) continue;
    value += value.empty() ? kUnitPrefix : std::string_view(",");
    value += std::to_string(range.first) + "-" + std::to_string(range.End() - 1);
  }
  return value;
}

}  // namespace velmora::delta
