#include "delta/chunker.h"

#include <array>

namespace velmora::delta {
namespace {

// SplitMix64: a fixed, well-mixed sequence of 64-bit values from one seed.
std::uint64_t NextMixed(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

const std::array<std::uint64_t, 256>& GearTable() {
  static const std::array<std::uint64_t, 256> table = [] {
    std::array<std::uint64_t, 256> values{};
    std::uint64_t state = 0x56454C4D4F524131ULL;  // "VELMORA1"
    for (std::uint64_t& value : values) value = NextMixed(state);
    return values;
  }();
  return table;
}

std::uint32_t Log2(std::uint32_t value) {
  std::uint32_t bits = 0;
  while (value > 1) {
    value >>= 1;
    ++bits;
  }
  return bits;
}

}  // namespace

bool ChunkingRule::IsValid() const {
  const bool powerOfTwo = averageSize >= 64 && (averageSize & (averageSize - 1)) == 0;
  return powerOfTwo && minSize > 0 && minSize < averageSize && averageSize < maxSize;
}

Chunker::Chunker(const ChunkingRule& rule)
    : rule_(rule), strictBits_(Log2(rule.averageSize) + 2), looseBits_(Log2(rule.averageSize) - 2) {}

void Chunker::Feed(std::string_view bytes, const CutCallback& cut) {
  const std::array<std::uint64_t, 256>& gear = GearTable();
  const std::uint64_t strictMask = ~0ULL << (64 - strictBits_);
  const std::uint64_t looseMask = ~0ULL << (64 - looseBits_);
  std::size_t i = 0;
  while (i < bytes.size()) {
    // The first minSize bytes of a chunk are never a cut: they are skipped, except for the last
    // 64, which the hash must have seen at the first place a cut may fall.
    if (length_ + 64 < rule_.minSize) {
      const std::uint64_t skip = std::min<std::uint64_t>(rule_.minSize - 64 - length_, bytes.size() - i);
      length_ += skip;
      i += static_cast<std::size_t>(skip);
      continue;
    }
    hash_ = (hash_ << 1) + gear[static_cast<unsigned char>(bytes[i])];
    ++length_;
    ++i;
    if (length_ < rule_.minSize) continue;
    const std::uint64_t mask = length_ < rule_.averageSize ? strictMask : looseMask;
    if ((hash_ & mask) == 0 || length_ >= rule_.maxSize) {
      cut(length_);
      length_ = 0;
      hash_ = 0;
    }
  }
}

void Chunker::Finish(const CutCallback& cut) {
  if (length_ > 0) cut(length_);
  length_ = 0;
  hash_ = 0;
}

std::vector<std::uint64_t> ChunkLengths(std::string_view data, const ChunkingRule& rule) {
  std::vector<std::uint64_t> lengths;
  Chunker chunker(rule);
  const auto add = [&lengths](std::uint64_t length) { lengths.push_back(length); };
  chunker.Feed(data, add);
  chunker.Finish(add);
  return lengths;
}

}  // namespace velmora::delta
