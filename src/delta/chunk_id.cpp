#include "delta/chunk_id.h"

#include <string>

#include "platform/hash.h"

namespace velmora::delta {
namespace {

constexpr std::uint32_t kSha256Length = 32;

ChunkId Sha256Prefix(std::string_view bytes) {
  platform::HashComputation sha256(platform::kCalgSha256);
  sha256.Add(bytes);
  const std::string digest = sha256.Finish(kSha256Length);
  return digest.size() == kSha256Length ? ChunkId::FromBytes(digest) : ChunkId{};
}

}  // namespace

ChunkId ChunkIdOf(std::string_view bytes) { return Sha256Prefix(bytes); }

void GroupIdBuilder::Add(const ChunkId& chunk, std::uint32_t length) {
  data_.append(chunk.View());
  for (int shift = 0; shift < 32; shift += 8) data_.push_back(static_cast<char>((length >> shift) & 0xFF));
}

ChunkId GroupIdBuilder::Finish() const { return Sha256Prefix(data_); }

}  // namespace velmora::delta
