#include "delta/index_writer.h"

#include "delta/chunk_compression.h"

namespace velmora::delta {

IndexWriter::IndexWriter(PackSink packSink, const ChunkingRule& chunking, const GroupingRule& grouping,
                         std::uint8_t version)
    : packSink_(std::move(packSink)), grouping_(grouping), stream_(chunking) {
  head_.version = version;
  head_.chunking = chunking;
  head_.grouping = grouping;
}

bool IndexWriter::Feed(std::string_view bytes) {
  if (sinkFailed_) return false;
  stream_.Feed(bytes, [this](std::string_view chunk) { AddChunk(chunk); });
  return !sinkFailed_;
}

void IndexWriter::AddChunk(std::string_view chunk) {
  if (sinkFailed_) return;
  IndexedChunk entry;
  entry.id = ChunkIdOf(chunk);
  entry.length = static_cast<std::uint32_t>(chunk.size());
  const auto found = stored_.find(entry.id);
  if (found != stored_.end()) {
    entry.repeat = true;
    entry.packOffset = found->second.packOffset;
    entry.packedLength = found->second.packedLength;
  } else {
    const std::string packed = DeflateChunk(chunk, head_.UsesDictionary() ? std::string_view(before_) : std::string_view());
    if (packed.empty() || !packSink_(packed)) {
      sinkFailed_ = true;
      return;
    }
    entry.packOffset = head_.packLength;
    entry.packedLength = static_cast<std::uint32_t>(packed.size());
    stored_.emplace(entry.id, Stored{entry.packOffset, entry.packedLength});
    head_.packLength += packed.size();
    groupPackedLength_ += packed.size();
  }
  if (head_.UsesDictionary()) {
    // Keeps the last kDictionaryLength bytes, trimmed only when twice that has gathered.
    before_.append(chunk);
    if (before_.size() >= 2 * kDictionaryLength) before_.erase(0, before_.size() - kDictionaryLength);
  }
  head_.fileLength += chunk.size();
  groupLength_ += chunk.size();
  ++chunkCount_;
  groupChunks_.push_back(entry);
  if (grouping_.EndsGroup(entry.id) || groupChunks_.size() >= grouping_.groupMax) EndGroup();
}

void IndexWriter::EndGroup() {
  if (groupChunks_.empty()) return;
  GroupIdBuilder groupId;
  for (const IndexedChunk& chunk : groupChunks_) groupId.Add(chunk.id, chunk.length);
  const std::string record = EncodeRecord(groupChunks_);
  IndexedGroup group;
  group.id = groupId.Finish();
  group.chunkCount = static_cast<std::uint32_t>(groupChunks_.size());
  group.length = groupLength_;
  group.packedLength = groupPackedLength_;
  group.recordLength = static_cast<std::uint32_t>(record.size());
  head_.groups.push_back(group);
  records_ += record;
  groupChunks_.clear();
  groupLength_ = 0;
  groupPackedLength_ = 0;
}

std::optional<WrittenIndex> IndexWriter::Finish() {
  stream_.Finish([this](std::string_view chunk) { AddChunk(chunk); });
  EndGroup();
  if (sinkFailed_) return std::nullopt;
  WrittenIndex index;
  index.bytes = EncodeHead(head_);
  index.headLength = index.bytes.size();
  index.bytes += records_;
  index.packLength = head_.packLength;
  index.chunkCount = chunkCount_;
  index.distinctChunkCount = stored_.size();
  return index;
}

std::optional<WrittenIndex> WriteIndex(std::string_view data, std::string& pack, const ChunkingRule& chunking,
                                       const GroupingRule& grouping, std::uint8_t version) {
  IndexWriter writer(
      [&pack](std::string_view bytes) {
        pack.append(bytes);
        return true;
      },
      chunking, grouping, version);
  writer.Feed(data);
  return writer.Finish();
}

}  // namespace velmora::delta
