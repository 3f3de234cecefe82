// Planning which byte ranges of a remote file to ask for with HTTP range requests (RFC 9110 14):
// the wanted ranges are merged, their number is bounded, and they are split into requests whose
// Range header stays short enough for every common server.
//
// Asking for a few extra bytes is cheaper than asking for many small ranges: each range costs
// header bytes in the request and a part header (about 80 bytes) in the answer, and servers limit
// the length of a request header line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora::delta {

// The bytes [first, first + length) of a file.
struct ByteRange {
  std::uint64_t first = 0;
  std::uint64_t length = 0;

  // One past the last byte. Saturates at 2^64 - 1 instead of wrapping, so a range from an
  // untrusted source can never appear to end before it starts.
  std::uint64_t End() const;

  friend bool operator==(const ByteRange&, const ByteRange&) = default;
};

// The longest Range header value a request carries. nginx reads a request header line that does
// not fit its first 1 KiB buffer into one of its large header buffers (8 KiB by default) and
// answers 400 to a longer line; Apache's limit is 8190 bytes. 7000 bytes stay within both, and
// a server or proxy configured below them answers with an error, which the client takes as a
// refusal of many ranges and asks again with fewer.
inline constexpr std::size_t kMaxRangeHeaderBytes = 7000;

// Sorted, disjoint ranges covering every byte of `ranges`: empty ranges are dropped, and ranges
// that overlap, touch or lie at most `joinGap` bytes apart become one (the gap is then fetched too).
std::vector<ByteRange> MergeRanges(std::vector<ByteRange> ranges, std::uint64_t joinGap);

// At most `maxRanges` ranges (at least one when any is given) covering every byte of `merged`,
// joining neighbours across the smallest gaps first, which fetches the fewest extra bytes.
// The input is merged first (MergeRanges with no gap), so it may be in any order.
// O(n log n) in the number of ranges.
std::vector<ByteRange> LimitRangeCount(std::vector<ByteRange> merged, std::size_t maxRanges);

// The ranges, in their order, split into consecutive groups, one per request, so that each
// group's RangeHeaderValue is at most `maxHeaderBytes` long. A range whose value alone is longer
// gets a request of its own. Empty ranges ask for nothing and are left out.
std::vector<std::vector<ByteRange>> GroupIntoRequests(const std::vector<ByteRange>& ranges,
                                                      std::size_t maxHeaderBytes = kMaxRangeHeaderBytes);

// The Range header value asking for `ranges` in their order: "bytes=0-99,200-299" (inclusive
// ends). Empty ranges are left out; with none left the value is empty (no request to make).
std::string RangeHeaderValue(const std::vector<ByteRange>& ranges);

}  // namespace velmora::delta
