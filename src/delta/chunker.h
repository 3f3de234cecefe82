// Cutting a file into chunks by its content, so that an insertion or a deletion moves only the
// chunks around it: the same bytes give the same chunks wherever they sit in a file.
//
// The rule: a gear rolling hash (h = 2h + G[byte], 64 bits, so that its top bits depend on the
// last 64 bytes only) runs over the bytes since the last cut. After at least `minSize` bytes, a cut
// falls after a byte at which the hash's top bits are all zero: log2(averageSize) + 2 bits while
// the chunk is shorter than `averageSize`, log2(averageSize) - 2 bits from then on, which keeps
// chunk sizes near the average; a chunk that reaches `maxSize` is cut there. The table G is fixed
// (derived from a constant seed), so every platform and every build cuts the same bytes alike.
// The publisher and the updater must use the same rule; it is written into each index.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace velmora::delta {

struct ChunkingRule {
  std::uint32_t minSize = 4 * 1024;
  std::uint32_t averageSize = 16 * 1024;  // a power of two, at least 64
  std::uint32_t maxSize = 64 * 1024;

  // The sizes are ordered (min < average < max) and the average is a power of two of 64 or more.
  bool IsValid() const;
};

// Cuts a stream fed in pieces of any size; the cuts do not depend on how the stream is split.
// Not thread-safe; one object per stream.
class Chunker {
 public:
  using CutCallback = std::function<void(std::uint64_t chunkLength)>;

  explicit Chunker(const ChunkingRule& rule = {});

  // Feeds the next bytes of the stream; `cut` is called with the length of each chunk that ends
  // within them, in order.
  void Feed(std::string_view bytes, const CutCallback& cut);
  // The stream has ended: the rest, if any, is the last chunk (shorter than minSize, perhaps).
  void Finish(const CutCallback& cut);

 private:
  ChunkingRule rule_;
  std::uint32_t strictBits_;
  std::uint32_t looseBits_;
  std::uint64_t hash_ = 0;
  std::uint64_t length_ = 0;  // bytes of the chunk being cut so far
};

// The lengths of the chunks of `data`, in order.
std::vector<std::uint64_t> ChunkLengths(std::string_view data, const ChunkingRule& rule = {});

}  // namespace velmora::delta
