// What a client fetches to build a new file from an index, given the chunks it already holds
// (local_catalogue.h). Two steps:
//   1. PlanRecords: the head is known; each group whose identity the client holds needs nothing,
//      the others need their records: byte ranges of the index.
//   2. PlanChunks: with those records, each chunk of the new file is either a local chunk (found
//      by identity anywhere in the catalogue) or a stored chunk of the pack; the missing ones
//      become byte ranges of the pack, adjacent ones joined, each distinct chunk asked for once.
// ChoosePackRequests then decides how to ask: the whole pack in one request when most of it is
// missing, otherwise at most kMaxPackRequests requests of many ranges each (nearby ranges joined
// across the smallest gaps when there are too many).
#pragma once

#include <cstdint>
#include <optional>
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

// One chunk of the new file and where its bytes come from.
struct ChunkPlacement {
  std::uint64_t fileOffset = 0;
  std::uint32_t length = 0;
  ChunkId id;
  const LocalChunk* local = nullptr;  // null: inflated from the pack
  std::uint64_t packOffset = 0;
  std::uint32_t packedLength = 0;
};

struct ChunkPlan {
  std::vector<ChunkPlacement> chunks;  // the whole new file, in order
  std::vector<ByteRange> packRanges;   // the missing chunks' bytes of the pack, sorted and joined
  std::uint64_t localBytes = 0;        // bytes of the new file taken from local chunks
  std::uint64_t missingPackBytes = 0;  // bytes of the pack the missing chunks take
};

// `records` has one entry per group of `head`: the decoded record for each group that
// PlanRecords named, nothing for the others (their chunks come from the local group of the same
// identity). Nothing when a group has neither.
std::optional<ChunkPlan> PlanChunks(const IndexHead& head,
                                    const std::vector<std::optional<std::vector<IndexedChunk>>>& records,
                                    const LocalCatalogue& local);

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
