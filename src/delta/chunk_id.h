// A chunk's identity: the first eight bytes of the SHA-256 of its bytes. Two different chunks share
// one only by chance (about one pair in 2^64 / n^2 for n chunks); such a mix-up can never install
// a wrong file, because every staged file is checked whole by its MD5 and SHA-256 afterwards.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace velmora::delta {

inline constexpr std::size_t kChunkIdLength = 8;

struct ChunkId {
  std::array<std::uint8_t, kChunkIdLength> bytes{};

  bool operator==(const ChunkId&) const = default;
  std::string_view View() const { return {reinterpret_cast<const char*>(bytes.data()), bytes.size()}; }
  static ChunkId FromBytes(std::string_view eightBytes) {
    ChunkId id;
    std::memcpy(id.bytes.data(), eightBytes.data(), kChunkIdLength);
    return id;
  }
};

struct ChunkIdHash {
  std::size_t operator()(const ChunkId& id) const {
    std::uint64_t value;
    std::memcpy(&value, id.bytes.data(), sizeof value);
    return static_cast<std::size_t>(value);
  }
};

// The identity of `bytes`; all zero bytes when no digest could be computed.
ChunkId ChunkIdOf(std::string_view bytes);

// The identity of a group of chunks: the SHA-256 prefix of each chunk's identity followed by its
// length as four bytes, lowest first, in order. `Add` them, then `Finish`.
class GroupIdBuilder {
 public:
  void Add(const ChunkId& chunk, std::uint32_t length);
  ChunkId Finish() const;
  bool Empty() const { return data_.empty(); }
  void Clear() { data_.clear(); }

 private:
  std::string data_;
};

}  // namespace velmora::delta
