#include "delta/local_catalogue.h"

#include <algorithm>

namespace velmora::delta {
namespace {

bool IdLess(const ChunkId& a, const ChunkId& b) { return a.bytes < b.bytes; }

}  // namespace

LocalFileChunks::LocalFileChunks(std::uint32_t source, const ChunkingRule& chunking, const GroupingRule& grouping)
    : source_(source), grouping_(grouping), stream_(chunking) {}

void LocalFileChunks::Feed(std::string_view bytes) {
  stream_.Feed(bytes, [this](std::string_view chunk) { AddChunk(chunk); });
}

void LocalFileChunks::Finish() {
  stream_.Finish([this](std::string_view chunk) { AddChunk(chunk); });
  EndGroup();
}

void LocalFileChunks::AddChunk(std::string_view chunk) {
  const LocalChunk added{ChunkIdOf(chunk), source_, static_cast<std::uint32_t>(chunk.size()), length_};
  chunks_.push_back(added);
  length_ += chunk.size();
  if (grouping_.EndsGroup(added.id) || chunks_.size() - groupStart_ >= grouping_.groupMax) EndGroup();
}

void LocalFileChunks::EndGroup() {
  const auto end = static_cast<std::uint32_t>(chunks_.size());
  if (end == groupStart_) return;
  GroupIdBuilder groupId;
  for (std::uint32_t i = groupStart_; i < end; ++i) groupId.Add(chunks_[i].id, chunks_[i].length);
  groups_.push_back({groupId.Finish(), groupStart_, end - groupStart_});
  groupStart_ = end;
}

void LocalCatalogue::Add(LocalFileChunks&& file) {
  const auto base = static_cast<std::uint32_t>(chunks_.size());
  chunks_.insert(chunks_.end(), file.chunks_.begin(), file.chunks_.end());
  for (const LocalFileChunks::Group& group : file.groups_) {
    groups_.push_back({group.id, base + group.firstChunk, group.chunkCount});
  }
  file.chunks_ = {};
  file.groups_ = {};
}

void LocalCatalogue::Seal() {
  byId_.resize(chunks_.size());
  for (std::uint32_t i = 0; i < byId_.size(); ++i) byId_[i] = i;
  std::sort(byId_.begin(), byId_.end(),
            [this](std::uint32_t a, std::uint32_t b) { return IdLess(chunks_[a].id, chunks_[b].id); });
  std::sort(groups_.begin(), groups_.end(), [](const Group& a, const Group& b) { return IdLess(a.id, b.id); });
}

const LocalChunk* LocalCatalogue::FindChunk(const ChunkId& id) const {
  const auto found = std::lower_bound(byId_.begin(), byId_.end(), id,
                                      [this](std::uint32_t a, const ChunkId& b) { return IdLess(chunks_[a].id, b); });
  return found != byId_.end() && chunks_[*found].id == id ? &chunks_[*found] : nullptr;
}

std::span<const LocalChunk> LocalCatalogue::FindGroup(const ChunkId& groupId) const {
  const auto found = std::lower_bound(groups_.begin(), groups_.end(), groupId,
                                      [](const Group& a, const ChunkId& b) { return IdLess(a.id, b); });
  if (found == groups_.end() || !(found->id == groupId)) return {};
  return std::span<const LocalChunk>(chunks_).subspan(found->firstChunk, found->chunkCount);
}

}  // namespace velmora::delta
