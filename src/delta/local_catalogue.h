// The chunks a client already holds: its local files cut with an index's rules (chunk_index.h),
// each chunk with its identity and place, and each group of chunks with its identity, so that a
// group or a chunk of a new file is looked up in one step.
//
// A file is cut by a LocalFileChunks of its own (one per thread, fed in a streaming pass), whose
// list of chunks is sized from the file's length at once; the catalogue then takes each file's
// list as it is (no copy), and Seal makes them searchable. Memory: 24 bytes per chunk and 4 for
// its lookup, and about 0.5 per chunk for the groups: for a file of 2,000 MB (405,000 chunks of
// 4.9 KB on real data) 11.4 MB, and 2 MB of list made for chunks that did not come (13.4 MiB of
// peak memory with the hashing, bench/delta_memory_bench).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "delta/chunk_id.h"
#include "delta/chunk_index.h"
#include "delta/chunk_stream.h"

namespace velmora::delta {

struct LocalChunk {
  ChunkId id;
  std::uint32_t source = 0;  // the caller's number for the file that holds it
  std::uint32_t length = 0;
  std::uint64_t offset = 0;  // in that file
};

// One local file's chunks and groups, cut as its bytes are fed. Not thread-safe.
class LocalFileChunks {
 public:
  // `expectedLength`: the file's length when it is known (0: not known). The chunk list is then
  // made for length / averageSize chunks at once: chunks average a little more than the rule's
  // average, so it rarely grows, and then by an eighth (never doubled).
  explicit LocalFileChunks(std::uint32_t source, std::uint64_t expectedLength = 0,
                           const ChunkingRule& chunking = DefaultChunkingRule(),
                           const GroupingRule& grouping = DefaultGroupingRule());

  void Feed(std::string_view bytes);
  void Finish();

  std::uint32_t Source() const { return source_; }
  std::uint64_t Length() const { return length_; }

 private:
  friend class LocalCatalogue;
  struct Group {
    ChunkId id;
    std::uint32_t firstChunk;  // in chunks_
    std::uint32_t chunkCount;
  };

  void AddChunk(std::string_view chunk);
  void EndGroup();

  std::uint32_t source_;
  GroupingRule grouping_;
  ChunkStream stream_;
  std::uint64_t length_ = 0;
  std::vector<LocalChunk> chunks_;
  std::vector<Group> groups_;
  std::uint32_t groupStart_ = 0;
};

class LocalCatalogue {
 public:
  // Takes the chunks of a finished file. Not thread-safe: the caller adds files one at a time.
  void Add(LocalFileChunks&& file);
  // Makes what was added searchable; Add after Seal needs another Seal.
  void Seal();

  // A chunk with this identity, or null.
  const LocalChunk* FindChunk(const ChunkId& id) const;
  // The chunks of a local group with this identity, in order; empty when there is none.
  std::span<const LocalChunk> FindGroup(const ChunkId& groupId) const;

  std::size_t ChunkCount() const { return chunkCount_; }

 private:
  struct Group {
    ChunkId id;
    std::uint32_t file;        // in files_
    std::uint32_t firstChunk;  // in that file's list
    std::uint32_t chunkCount;
  };

  // The chunk with catalogue-wide number `number` (files_ in order, each file's chunks in order).
  const LocalChunk& At(std::uint32_t number) const;

  std::vector<std::vector<LocalChunk>> files_;  // each file's chunks, as cut
  std::vector<std::uint32_t> firstNumbers_;     // per file, the number of its first chunk
  std::size_t chunkCount_ = 0;
  std::vector<Group> groups_;
  std::vector<std::uint32_t> byId_;  // chunk numbers sorted by identity
};

// A client's local files cut into one catalogue, with the files' paths by source number.
struct LocalChunkSources {
  LocalCatalogue catalogue;
  std::vector<std::string> paths;
};

}  // namespace velmora::delta
