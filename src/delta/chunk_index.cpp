#include "delta/chunk_index.h"

#include "delta/varint.h"

namespace velmora::delta {
namespace {

constexpr char kMagic[] = "VMDI";
constexpr std::size_t kMagicLength = 4;
constexpr std::uint32_t kMaxGroupChunks = 4096;

void AppendId(std::string& out, const ChunkId& id) { out.append(id.View()); }

bool ReadId(std::string_view bytes, std::size_t& position, ChunkId& id) {
  if (bytes.size() - position < kChunkIdLength) return false;
  id = ChunkId::FromBytes(bytes.substr(position, kChunkIdLength));
  position += kChunkIdLength;
  return true;
}

// A varint that must not exceed `limit`.
bool ReadBounded(std::string_view bytes, std::size_t& position, std::uint64_t limit, std::uint64_t& value) {
  return ReadVarint(bytes, position, value) && value <= limit;
}

// The magic and a version this code reads: the position after them, or nothing.
std::optional<std::uint8_t> ReadMagic(std::string_view bytes, std::size_t& position) {
  if (bytes.size() <= kMagicLength || bytes.substr(0, kMagicLength) != std::string_view(kMagic, kMagicLength)) {
    return std::nullopt;
  }
  const auto version = static_cast<std::uint8_t>(bytes[kMagicLength]);
  if (version != kIndexVersionAlone && version != kIndexVersionDictionary) return std::nullopt;
  position = kMagicLength + 1;
  return version;
}

bool ReadRules(std::string_view bytes, std::size_t& position, IndexHead& head) {
  std::uint64_t values[5];
  for (std::uint64_t& value : values) {
    if (!ReadBounded(bytes, position, kMaxChunkSize, value)) return false;
  }
  head.chunking = {static_cast<std::uint32_t>(values[0]), static_cast<std::uint32_t>(values[1]),
                   static_cast<std::uint32_t>(values[2])};
  head.grouping = {static_cast<std::uint32_t>(values[3]), static_cast<std::uint32_t>(values[4])};
  return head.chunking.IsValid() && head.grouping.IsValid();
}

}  // namespace

bool GroupingRule::IsValid() const {
  const bool powerOfTwo = groupAverage >= 1 && groupAverage <= 128 && (groupAverage & (groupAverage - 1)) == 0;
  return powerOfTwo && groupMax >= groupAverage && groupMax <= kMaxGroupChunks;
}

ChunkingRule DefaultChunkingRule() { return {2 * 1024, 4 * 1024, 32 * 1024}; }
GroupingRule DefaultGroupingRule() { return {}; }

std::string EncodeHead(const IndexHead& head) {
  std::string out(kMagic, kMagicLength);
  out += static_cast<char>(head.version);
  for (std::uint64_t value : {head.chunking.minSize, head.chunking.averageSize, head.chunking.maxSize,
                              head.grouping.groupAverage, head.grouping.groupMax}) {
    AppendVarint(out, value);
  }
  AppendVarint(out, head.fileLength);
  AppendVarint(out, head.packLength);
  AppendVarint(out, head.groups.size());
  for (const IndexedGroup& group : head.groups) {
    AppendId(out, group.id);
    AppendVarint(out, group.chunkCount);
    AppendVarint(out, group.length);
    AppendVarint(out, group.packedLength);
    AppendVarint(out, group.recordLength);
  }
  return out;
}

std::string EncodeRecord(const std::vector<IndexedChunk>& chunks) {
  std::string out;
  for (const IndexedChunk& chunk : chunks) {
    AppendId(out, chunk.id);
    AppendVarint(out, chunk.length);
    AppendVarint(out, 2 * static_cast<std::uint64_t>(chunk.packedLength) + (chunk.repeat ? 1 : 0));
    if (chunk.repeat) AppendVarint(out, chunk.packOffset);
  }
  return out;
}

std::optional<std::uint64_t> HeadLengthOf(std::string_view index) {
  std::size_t position = 0;
  if (!ReadMagic(index, position)) return std::nullopt;
  std::uint64_t value = 0;
  for (int i = 0; i < 7; ++i) {  // the five rules, the file's and the pack's lengths
    if (!ReadVarint(index, position, value)) return std::nullopt;
  }
  std::uint64_t groupCount = 0;
  if (!ReadVarint(index, position, groupCount)) return std::nullopt;
  for (std::uint64_t group = 0; group < groupCount; ++group) {
    ChunkId id;
    if (!ReadId(index, position, id)) return std::nullopt;
    for (int i = 0; i < 4; ++i) {  // chunk count, length, packed length, record length
      if (!ReadVarint(index, position, value)) return std::nullopt;
    }
  }
  return position;
}

std::optional<IndexHead> DecodeHead(std::string_view bytes) {
  std::size_t position = 0;
  const std::optional<std::uint8_t> version = ReadMagic(bytes, position);
  if (!version) return std::nullopt;
  IndexHead head;
  head.version = *version;
  std::uint64_t groupCount = 0;
  constexpr std::uint64_t kMaxLength = std::uint64_t{1} << 50;  // a petabyte: far past any file
  if (!ReadRules(bytes, position, head) || !ReadBounded(bytes, position, kMaxLength, head.fileLength) ||
      !ReadBounded(bytes, position, kMaxLength, head.packLength) || !ReadVarint(bytes, position, groupCount)) {
    return std::nullopt;
  }
  // Every group takes at least 12 bytes of the head: more groups than that cannot be there.
  if (groupCount > (bytes.size() - position) / 12 + 1) return std::nullopt;
  head.groups.resize(static_cast<std::size_t>(groupCount));
  std::uint64_t fileOffset = 0;
  std::uint64_t packOffset = 0;
  std::uint64_t recordsLength = 0;
  for (IndexedGroup& group : head.groups) {
    std::uint64_t chunkCount = 0;
    std::uint64_t recordLength = 0;
    if (!ReadId(bytes, position, group.id) ||
        !ReadBounded(bytes, position, head.grouping.groupMax, chunkCount) || chunkCount == 0 ||
        !ReadBounded(bytes, position, chunkCount * head.chunking.maxSize, group.length) ||
        group.length < chunkCount || !ReadBounded(bytes, position, kMaxLength, group.packedLength) ||
        !ReadBounded(bytes, position, chunkCount * (kChunkIdLength + 30), recordLength)) {
      return std::nullopt;
    }
    group.chunkCount = static_cast<std::uint32_t>(chunkCount);
    group.recordLength = static_cast<std::uint32_t>(recordLength);
    group.fileOffset = fileOffset;
    group.packOffset = packOffset;
    group.recordOffset = recordsLength;  // made absolute below, once the head's length is known
    fileOffset += group.length;
    packOffset += group.packedLength;
    recordsLength += recordLength;
    if (fileOffset > head.fileLength || packOffset > head.packLength) return std::nullopt;
  }
  if (position != bytes.size() || fileOffset != head.fileLength || packOffset != head.packLength) return std::nullopt;
  head.headLength = bytes.size();
  head.indexLength = head.headLength + recordsLength;
  for (IndexedGroup& group : head.groups) group.recordOffset += head.headLength;
  return head;
}

std::optional<std::vector<IndexedChunk>> DecodeRecord(std::string_view bytes, const IndexHead& head,
                                                      const IndexedGroup& group) {
  if (bytes.size() != group.recordLength) return std::nullopt;
  std::vector<IndexedChunk> chunks(group.chunkCount);
  std::size_t position = 0;
  std::uint64_t length = 0;
  std::uint64_t packCursor = group.packOffset;
  GroupIdBuilder groupId;
  for (IndexedChunk& chunk : chunks) {
    std::uint64_t chunkLength = 0;
    std::uint64_t code = 0;
    if (!ReadId(bytes, position, chunk.id) || !ReadBounded(bytes, position, head.chunking.maxSize, chunkLength) ||
        chunkLength == 0 || !ReadVarint(bytes, position, code)) {
      return std::nullopt;
    }
    const std::uint64_t packedLength = code >> 1;
    if (packedLength == 0 || packedLength > head.packLength) return std::nullopt;
    chunk.length = static_cast<std::uint32_t>(chunkLength);
    chunk.packedLength = static_cast<std::uint32_t>(packedLength);
    chunk.repeat = (code & 1) != 0;
    if (chunk.repeat) {
      // Stored earlier: wholly before this chunk's place in the pack.
      if (!ReadVarint(bytes, position, chunk.packOffset) || chunk.packOffset > packCursor ||
          packedLength > packCursor - chunk.packOffset) {
        return std::nullopt;
      }
    } else {
      chunk.packOffset = packCursor;
      packCursor += packedLength;
    }
    length += chunkLength;
    groupId.Add(chunk.id, chunk.length);
  }
  if (position != bytes.size() || length != group.length || packCursor != group.packOffset + group.packedLength ||
      groupId.Finish() != group.id) {
    return std::nullopt;
  }
  return chunks;
}

}  // namespace velmora::delta
