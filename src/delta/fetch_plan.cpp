#include "delta/fetch_plan.h"

namespace velmora::delta {
namespace {

std::vector<std::vector<ByteRange>> SpreadOverRequests(std::vector<ByteRange> ranges, std::size_t maxRequests) {
  if (ranges.empty()) return {};
  ranges = LimitRangeCount(std::move(ranges), kRangesPerRequest * maxRequests);
  return GroupIntoRequests(ranges);
}

}  // namespace

RecordsPlan PlanRecords(const IndexHead& head, const LocalCatalogue& local) {
  RecordsPlan plan;
  std::vector<ByteRange> ranges;
  for (std::size_t i = 0; i < head.groups.size(); ++i) {
    const IndexedGroup& group = head.groups[i];
    if (!local.FindGroup(group.id).empty()) continue;
    plan.groups.push_back(i);
    ranges.push_back({group.recordOffset, group.recordLength});
    plan.recordBytes += group.recordLength;
  }
  plan.indexRanges = MergeRanges(std::move(ranges), kJoinGap);
  return plan;
}

std::optional<ChunkPlan> PlanChunks(const IndexHead& head,
                                    const std::vector<std::optional<std::vector<IndexedChunk>>>& records,
                                    const LocalCatalogue& local) {
  if (records.size() != head.groups.size()) return std::nullopt;
  ChunkPlan plan;
  std::vector<ByteRange> missing;
  std::uint64_t fileOffset = 0;
  for (std::size_t i = 0; i < head.groups.size(); ++i) {
    if (!records[i]) {
      const std::span<const LocalChunk> group = local.FindGroup(head.groups[i].id);
      if (group.empty()) return std::nullopt;
      for (const LocalChunk& chunk : group) {
        plan.chunks.push_back({fileOffset, chunk.length, chunk.id, &chunk, 0, 0});
        fileOffset += chunk.length;
        plan.localBytes += chunk.length;
      }
      continue;
    }
    for (const IndexedChunk& chunk : *records[i]) {
      const LocalChunk* held = local.FindChunk(chunk.id);
      if (held != nullptr && held->length != chunk.length) held = nullptr;
      plan.chunks.push_back({fileOffset, chunk.length, chunk.id, held, chunk.packOffset, chunk.packedLength});
      fileOffset += chunk.length;
      if (held != nullptr) {
        plan.localBytes += chunk.length;
      } else {
        missing.push_back({chunk.packOffset, chunk.packedLength});
      }
    }
  }
  if (fileOffset != head.fileLength) return std::nullopt;
  plan.packRanges = MergeRanges(std::move(missing), kJoinGap);  // a repeated chunk is asked for once
  for (const ByteRange& range : plan.packRanges) plan.missingPackBytes += range.length;
  return plan;
}

std::vector<std::vector<ByteRange>> ChoosePackRequests(const std::vector<ByteRange>& packRanges,
                                                       std::uint64_t packLength) {
  std::uint64_t missing = 0;
  for (const ByteRange& range : packRanges) missing += range.length;
  if (missing == 0) return {};
  if (missing >= packLength - packLength / 4) return {{ByteRange{0, packLength}}};
  return SpreadOverRequests(packRanges, kMaxPackRequests);
}

std::vector<std::vector<ByteRange>> ChooseRecordRequests(const RecordsPlan& plan, const IndexHead& head) {
  const std::uint64_t records = head.indexLength - head.headLength;
  if (plan.recordBytes == 0) return {};
  if (plan.recordBytes >= records - records / 4) return {{ByteRange{head.headLength, records}}};
  return SpreadOverRequests(plan.indexRanges, kMaxRecordRequests);
}

std::uint64_t RequestedBytes(const std::vector<std::vector<ByteRange>>& requests) {
  std::uint64_t bytes = 0;
  for (const auto& request : requests) {
    for (const ByteRange& range : request) bytes += range.length;
  }
  return bytes;
}

std::optional<FetchEstimate> EstimateFetch(std::string_view index, std::uint64_t headLength,
                                           const LocalCatalogue& local) {
  if (headLength > index.size()) return std::nullopt;
  const auto head = DecodeHead(index.substr(0, headLength));
  if (!head || head->indexLength != index.size()) return std::nullopt;
  FetchEstimate estimate;
  estimate.fileLength = head->fileLength;
  estimate.indexBytes = headLength;
  estimate.requests = 1;
  const RecordsPlan recordsPlan = PlanRecords(*head, local);
  if (local.ChunkCount() == 0) {
    // A client that holds no chunk asks for the whole index at once.
    estimate.indexBytes = index.size();
  } else {
    const auto recordRequests = ChooseRecordRequests(recordsPlan, *head);
    estimate.indexBytes += RequestedBytes(recordRequests);
    estimate.requests += recordRequests.size();
  }
  std::vector<std::optional<std::vector<IndexedChunk>>> records(head->groups.size());
  for (const std::size_t i : recordsPlan.groups) {
    const IndexedGroup& group = head->groups[i];
    records[i] = DecodeRecord(index.substr(group.recordOffset, group.recordLength), *head, group);
    if (!records[i]) return std::nullopt;
  }
  const auto chunkPlan = PlanChunks(*head, records, local);
  if (!chunkPlan) return std::nullopt;
  const auto packRequests = ChoosePackRequests(chunkPlan->packRanges, head->packLength);
  estimate.packBytes = RequestedBytes(packRequests);
  estimate.requests += packRequests.size();
  estimate.localBytes = chunkPlan->localBytes;
  return estimate;
}

}  // namespace velmora::delta
