// What a client fetches to build a new file from an index, given the chunks it already holds
// (local_catalogue.h). Two steps:
//   1. PlanRecords: the head is known; each group whose identity the client holds needs nothing,
//      the others need their records: byte ranges of the index.
//   2. PlanPack: with those records, each chunk of the new file is either a local chunk (found
//      by identity anywhere in the catalogue) or a chunk of the pack; the missing stored ones
//      become byte ranges of the pack, adjacent ones joined, each distinct chunk asked for once
//      (a repeat is copied from the chunk's first place in the new file).
// Both walk the file group by group: nothing is kept per chunk of the file.
// ChoosePackRequests then decides how to ask: the whole pack in one request when most of it is
// missing, otherwise at most kMaxPackRequests requests of many ranges each (nearby ranges joined
// across the smallest gaps when there are too many).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "delta/byte_ranges.h"
#include "delta/chunk_index.h"
#include "delta/local_catalogue.h"

namespace velmora::delta {

// Ranges that one request carries at most: a range's text takes up to 22 characters, and a Range
// header stays within kMaxRangeHeaderBytes.
inline constexpr std::size_t kRangesPerRequest = 300;
// Missing ranges this close are asked for as one: each part of a multipart answer costs about 100
// bytes of headers, more than the bytes between them.
inline constexpr std::uint64_t kJoinGap = 128;
// Requests for a file's records and for its pack chunks, at most (with the head's, a file costs
// at most 1 + 3 + 5 requests).
inline constexpr std::size_t kMaxRecordRequests = 3;
inline constexpr std::size_t kMaxPackRequests = 5;

struct RecordsPlan {
  std::vector<std::size_t> groups;      // groups of the head that need their records, in order
  std::vector<ByteRange> indexRanges;   // where those records are in the index, joined
  std::uint64_t recordBytes = 0;        // the records' own bytes
};

RecordsPlan PlanRecords(const IndexHead& head, const LocalCatalogue& local);

// Where the bytes of a group's record are: the caller keeps what it fetched of the index. Nothing
// when they are not there.
using RecordBytes = std::function<std::optional<std::string_view>(const IndexedGroup& group)>;

// One chunk of the new file and where its bytes come from.
struct ChunkPlacement {
  std::uint64_t fileOffset = 0;
  std::uint32_t length = 0;
  ChunkId id;
  const LocalChunk* local = nullptr;  // null: from the pack
  std::uint64_t packOffset = 0;
  std::uint32_t packedLength = 0;
  bool repeat = false;  // stored at an earlier place of the new file (StoredPlace)
};

// The new file's chunks in order, one group at a time: a group the client holds from its local
// group of the same identity, any other from its record, decoded when the walk reaches it. Memory:
// one group's record. Not thread-safe.
class NewFileWalk {
 public:
  // Keeps references to all three.
  NewFileWalk(const IndexHead& head, const RecordBytes& records, const LocalCatalogue& local)
      : head_(head), records_(records), local_(local) {}

  // The next chunk into `chunk`; false at the end of the file, or when a group's record is missing
  // or does not decode (then Failed()).
  bool Next(ChunkPlacement& chunk);
  bool Failed() const { return failed_; }
  // Whether the walk went past the last chunk with every group's length as the head gives.
  bool Complete() const {
    return !failed_ && group_ == head_.groups.size() && next_ == count_ && fileOffset_ == head_.fileLength;
  }

 private:
  bool NextGroup();
  bool Fail() {
    failed_ = true;
    return false;
  }

  const IndexHead& head_;
  const RecordBytes& records_;
  const LocalCatalogue& local_;
  std::size_t group_ = 0;  // the next group to open
  std::span<const LocalChunk> held_;
  std::vector<IndexedChunk> record_;
  std::size_t next_ = 0;   // in the open group
  std::size_t count_ = 0;  // chunks of the open group
  std::uint64_t fileOffset_ = 0;
  bool failed_ = false;
};

// The place in the new file of the stored chunk at `packOffset` (where it first appears; a repeat
// elsewhere is the same bytes), read from the record of the group whose pack bytes hold it.
// Nothing when that record is not there or stores no chunk of `packedLength` bytes there.
std::optional<std::uint64_t> StoredPlace(const IndexHead& head, const RecordBytes& records, std::uint64_t packOffset,
                                         std::uint32_t packedLength);

// What the pack must give for a new file: the stored chunks the client holds nowhere, each at its
// first place; a repeat is copied from that place, so it costs no pack bytes of its own.
struct PackPlan {
  std::vector<ByteRange> packRanges;   // sorted and joined
  std::uint64_t localBytes = 0;        // bytes of the new file taken from local chunks
  std::uint64_t missingPackBytes = 0;  // bytes of the pack the missing chunks take
};

// Walks the file (NewFileWalk); `inPlace`, when given, names chunks a client already has in
// place (a fill that resumes) and needs nothing for. Nothing when the walk fails or its chunks do
// not add up to the file's length. Memory: the ranges, joined as they come.
std::optional<PackPlan> PlanPack(const IndexHead& head, const RecordBytes& records, const LocalCatalogue& local,
                                 const std::function<bool(const ChunkPlacement&)>& inPlace = {});

// The requests for the pack: each a list of ranges. The whole pack in one request when the
// missing bytes are at least three quarters of it (a file new to the client among them).
std::vector<std::vector<ByteRange>> ChoosePackRequests(const std::vector<ByteRange>& packRanges,
                                                       std::uint64_t packLength);
// The requests for the records' ranges of the index of `head`: every record after the head in one
// range when the records needed are at least three quarters of them.
std::vector<std::vector<ByteRange>> ChooseRecordRequests(const RecordsPlan& plan, const IndexHead& head);

// What a client holding `local` fetches for a new file whose whole index is `index` (the
// publisher's estimate, made the way a client plans): bytes of the index (the head and the
// records asked for, joined ranges included; the whole index when it holds no chunk at all),
// bytes of the pack, and requests. Nothing when the index does not decode.
struct FetchEstimate {
  std::uint64_t fileLength = 0;
  std::uint64_t indexBytes = 0;
  std::uint64_t packBytes = 0;
  std::uint64_t localBytes = 0;
  std::size_t requests = 0;
};
std::optional<FetchEstimate> EstimateFetch(std::string_view index, std::uint64_t headLength,
                                           const LocalCatalogue& local);

// The bytes `requests` ask for in all.
std::uint64_t RequestedBytes(const std::vector<std::vector<ByteRange>>& requests);

}  // namespace velmora::delta
