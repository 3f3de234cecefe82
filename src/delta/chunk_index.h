// A file's chunk index: which chunks, cut by content (chunker.h), make up the file, and where each
// one's deflated bytes sit in the file's pack. It has two levels, so that a client that already
// holds most of a file reads only a small part of it:
//
//   the head    the chunking rule, the file's and the pack's lengths, and one entry per group of
//               chunks: the group's identity, its number of chunks, its length in the file, the
//               bytes its chunks take in the pack and the length of its record;
//   the records one per group, in order after the head: per chunk its identity, its length and its
//               place in the pack.
//
// Groups are cut by content too: a group ends after a chunk whose identity's first byte has its
// low log2(groupAverage) bits zero, or after groupMax chunks, or at the end of the file. A client
// cuts its own files with the same rules; a group of the head whose identity it finds among its
// own groups needs neither its record nor any pack bytes.
//
// Encoding (numbers are varint.h's unless sized):
//   head:   "VMDI" version (one byte), minSize averageSize maxSize groupAverage groupMax,
//           fileLength packLength groupCount, then per group: identity (8 bytes) chunkCount length
//           packedLength recordLength
//   record: per chunk: identity (8 bytes) length code, where code is 2 * packedLength for a chunk
//           stored at the group's place in the pack (its chunks follow each other there), or
//           2 * packedLength + 1 followed by packOffset for a chunk stored earlier in the pack (a
//           repeat within the file, stored where it first appeared)
// A pack holds each distinct chunk once, deflated (chunk_compression.h), in the order of first
// appearance in the file. The version says how: 1, each chunk alone; 2 (what IndexWriter writes),
// each chunk with the file's bytes before its place as its dictionary. Both are read; a head of
// any other version is refused, so a client that does not know a pack's format never reads it
// (it fetches the file whole).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "delta/chunk_id.h"
#include "delta/chunker.h"

namespace velmora::delta {

struct GroupingRule {
  std::uint32_t groupAverage = 32;  // chunks; a power of two from 1 to 128
  std::uint32_t groupMax = 128;     // chunks; at least groupAverage, at most 4096
  bool IsValid() const;
  // Whether a group ends after the chunk `id` (not counting the groupMax limit).
  bool EndsGroup(const ChunkId& id) const { return (id.bytes[0] & (groupAverage - 1)) == 0; }
};

// The rules every index this system writes uses: chunks of 2 to 32 KiB, about 4 KiB on average,
// in groups of about 32.
ChunkingRule DefaultChunkingRule();
GroupingRule DefaultGroupingRule();

struct IndexedChunk {
  ChunkId id;
  std::uint32_t length = 0;
  std::uint64_t packOffset = 0;
  std::uint32_t packedLength = 0;
  bool repeat = false;  // stored earlier in the pack, not at its group's place
};

struct IndexedGroup {
  ChunkId id;
  std::uint32_t chunkCount = 0;
  std::uint64_t length = 0;        // bytes of the file
  std::uint64_t packedLength = 0;  // bytes of the pack its stored (not repeated) chunks take
  std::uint32_t recordLength = 0;
  // Derived while decoding: where the group starts in the file, in the pack and in the index.
  std::uint64_t fileOffset = 0;
  std::uint64_t packOffset = 0;
  std::uint64_t recordOffset = 0;
};

// The index and pack versions this code reads, and the one it writes.
inline constexpr std::uint8_t kIndexVersionAlone = 1;       // each chunk deflated alone
inline constexpr std::uint8_t kIndexVersionDictionary = 2;  // each with the bytes before it
inline constexpr std::uint8_t kIndexVersion = kIndexVersionDictionary;

struct IndexHead {
  std::uint8_t version = kIndexVersion;
  ChunkingRule chunking;
  GroupingRule grouping;
  std::uint64_t fileLength = 0;
  std::uint64_t packLength = 0;
  std::vector<IndexedGroup> groups;
  std::uint64_t headLength = 0;   // bytes of the encoded head
  std::uint64_t indexLength = 0;  // the head and every record

  // Whether the pack's chunks inflate with the file's bytes before them (chunk_compression.h).
  bool UsesDictionary() const { return version == kIndexVersionDictionary; }
};

// The largest chunk an index may name; larger rules are refused, which bounds what one chunk costs
// a client in memory.
inline constexpr std::uint32_t kMaxChunkSize = 1 << 20;

std::string EncodeHead(const IndexHead& head);
std::string EncodeRecord(const std::vector<IndexedChunk>& chunks);

// The length of the head at the start of `index` (a whole index, or its start), read from its
// group count and entries; nothing when `index` ends first or has a version this code does not
// read. Nothing is checked beyond the layout:
// DecodeHead checks the head.
std::optional<std::uint64_t> HeadLengthOf(std::string_view index);

// Decodes a head of exactly `bytes` and fills in the derived offsets. Nothing when it is damaged:
// a wrong magic, a version this code does not read, invalid rules, numbers that overflow, groups whose lengths do not add
// up to the file's and the pack's lengths, a group with no chunks or more than groupMax, or more
// bytes than the head holds.
std::optional<IndexHead> DecodeHead(std::string_view bytes);

// Decodes the record of `group` (exactly `bytes`) of an index with `head`. Nothing when it is
// damaged: it does not decode, its chunk count, lengths or packed lengths do not add up to the
// group's, a chunk is empty or longer than the rule's maxSize, a repeat does not lie wholly before
// the chunk's own place in the pack, or its identity does not give the group's.
std::optional<std::vector<IndexedChunk>> DecodeRecord(std::string_view bytes, const IndexHead& head,
                                                      const IndexedGroup& group);

}  // namespace velmora::delta
