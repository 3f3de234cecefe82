#include "delta/fetch_plan.h"

#include <algorithm>

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

bool NewFileWalk::NextGroup() {
  while (next_ == count_) {
    if (group_ == head_.groups.size()) return false;
    const IndexedGroup& group = head_.groups[group_++];
    if (fileOffset_ != group.fileOffset) return Fail();
    next_ = 0;
    record_.clear();
    held_ = local_.FindGroup(group.id);
    if (!held_.empty()) {
      count_ = held_.size();
      continue;
    }
    const std::optional<std::string_view> bytes = records_(group);
    std::optional<std::vector<IndexedChunk>> record;
    if (bytes) record = DecodeRecord(*bytes, head_, group);
    if (!record) return Fail();
    record_ = std::move(*record);
    count_ = record_.size();
  }
  return true;
}

bool NewFileWalk::Next(ChunkPlacement& chunk) {
  if (failed_ || !NextGroup()) return false;
  if (!held_.empty()) {
    const LocalChunk& held = held_[next_++];
    chunk = {fileOffset_, held.length, held.id, &held, 0, 0, false};
  } else {
    const IndexedChunk& listed = record_[next_++];
    const LocalChunk* local = local_.FindChunk(listed.id);
    if (local != nullptr && local->length != listed.length) local = nullptr;
    chunk = {fileOffset_, listed.length, listed.id, local, listed.packOffset, listed.packedLength, listed.repeat};
  }
  fileOffset_ += chunk.length;
  return true;
}

std::optional<std::uint64_t> StoredPlace(const IndexHead& head, const RecordBytes& records, std::uint64_t packOffset,
                                         std::uint32_t packedLength) {
  // The last group whose pack bytes start at or before the chunk's (groups of no pack bytes share
  // their place with the next one, so the search steps back over them).
  auto group = std::upper_bound(head.groups.begin(), head.groups.end(), packOffset,
                                [](std::uint64_t offset, const IndexedGroup& g) { return offset < g.packOffset; });
  while (group != head.groups.begin() && (group - 1)->packedLength == 0) --group;
  if (group == head.groups.begin()) return std::nullopt;
  --group;
  if (packOffset >= group->packOffset + group->packedLength) return std::nullopt;
  const std::optional<std::string_view> bytes = records(*group);
  if (!bytes) return std::nullopt;
  const auto record = DecodeRecord(*bytes, head, *group);
  if (!record) return std::nullopt;
  std::uint64_t fileOffset = group->fileOffset;
  for (const IndexedChunk& chunk : *record) {
    if (!chunk.repeat && chunk.packOffset == packOffset) {
      if (chunk.packedLength != packedLength) return std::nullopt;
      return fileOffset;
    }
    fileOffset += chunk.length;
  }
  return std::nullopt;
}

std::optional<PackPlan> PlanPack(const IndexHead& head, const RecordBytes& records, const LocalCatalogue& local,
                                 const std::function<bool(const ChunkPlacement&)>& inPlace) {
  PackPlan plan;
  NewFileWalk walk(head, records, local);
  ChunkPlacement chunk;
  bool sorted = true;
  while (walk.Next(chunk)) {
    if (inPlace && inPlace(chunk)) continue;
    if (chunk.local != nullptr) {
      plan.localBytes += chunk.length;
      continue;
    }
    if (chunk.repeat) continue;  // copied from its first place, which is fetched or in place
    // Stored chunks come in the pack's order, so each joins the last range or follows it.
    const ByteRange range{chunk.packOffset, chunk.packedLength};
    if (!plan.packRanges.empty() && range.first >= plan.packRanges.back().first &&
        range.first <= plan.packRanges.back().End() + kJoinGap) {
      ByteRange& last = plan.packRanges.back();
      last.length = std::max(last.End(), range.End()) - last.first;
    } else {
      sorted = sorted && (plan.packRanges.empty() || range.first > plan.packRanges.back().End());
      plan.packRanges.push_back(range);
    }
  }
  if (!walk.Complete()) return std::nullopt;
  if (!sorted) plan.packRanges = MergeRanges(std::move(plan.packRanges), kJoinGap);
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
  const RecordBytes records = [index](const IndexedGroup& group) -> std::optional<std::string_view> {
    return index.substr(group.recordOffset, group.recordLength);
  };
  const auto chunkPlan = PlanPack(*head, records, local);
  if (!chunkPlan) return std::nullopt;
  const auto packRequests = ChoosePackRequests(chunkPlan->packRanges, head->packLength);
  estimate.packBytes = RequestedBytes(packRequests);
  estimate.requests += packRequests.size();
  estimate.localBytes = chunkPlan->localBytes;
  return estimate;
}

}  // namespace velmora::delta
