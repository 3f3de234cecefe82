// Writes a file's chunk index and pack (chunk_index.h) in one streaming pass over its bytes: each
// chunk is cut, identified and, the first time it appears, deflated into the pack through a sink
// (with the file's last kDictionaryLength bytes before it as its dictionary, in version 2).
// Memory stays at one chunk in flight and those bytes, plus the index itself (about 0.3% of the
// file).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "delta/chunk_index.h"
#include "delta/chunk_stream.h"
#include "delta/chunker.h"

namespace velmora::delta {

struct WrittenIndex {
  std::string bytes;             // the head, then every record
  std::uint64_t headLength = 0;  // bytes of the head
  std::uint64_t packLength = 0;
  std::uint64_t chunkCount = 0;
  std::uint64_t distinctChunkCount = 0;
};

class IndexWriter {
 public:
  // `packSink` receives the pack's bytes in order; returning false stops the writer (Finish then
  // gives nothing).
  using PackSink = std::function<bool(std::string_view)>;

  // `version`: kIndexVersion; kIndexVersionAlone writes what earlier publishers wrote.
  explicit IndexWriter(PackSink packSink, const ChunkingRule& chunking = DefaultChunkingRule(),
                       const GroupingRule& grouping = DefaultGroupingRule(), std::uint8_t version = kIndexVersion);

  // The next bytes of the file. False once the sink has refused bytes.
  bool Feed(std::string_view bytes);
  // The file has ended: its index, or nothing when the sink refused bytes.
  std::optional<WrittenIndex> Finish();

 private:
  struct Stored {
    std::uint64_t packOffset;
    std::uint32_t packedLength;
  };

  void AddChunk(std::string_view chunk);
  void EndGroup();

  PackSink packSink_;
  GroupingRule grouping_;
  ChunkStream stream_;
  bool sinkFailed_ = false;
  std::unordered_map<ChunkId, Stored, ChunkIdHash> stored_;
  std::vector<IndexedChunk> groupChunks_;
  std::uint64_t groupLength_ = 0;
  std::uint64_t groupPackedLength_ = 0;
  IndexHead head_;
  std::string records_;
  std::uint64_t chunkCount_ = 0;
  std::string before_;  // the file's last bytes before the next chunk, up to kDictionaryLength
};

// The index of `data` and, through `pack`, its pack.
std::optional<WrittenIndex> WriteIndex(std::string_view data, std::string& pack,
                                       const ChunkingRule& chunking = DefaultChunkingRule(),
                                       const GroupingRule& grouping = DefaultGroupingRule(),
                                       std::uint8_t version = kIndexVersion);

}  // namespace velmora::delta
