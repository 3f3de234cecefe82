#include "delta/local_catalogue.h"

#include <algorithm>

namespace velmora::delta {
namespace {

bool IdLess(const ChunkId& a, const ChunkId& b) { return a.bytes < b.bytes; }

}  // namespace

LocalFileChunks::LocalFileChunks(std::uint32_t source, std::uint64_t expectedLength, const ChunkingRule& chunking,
                                 const GroupingRule& grouping)
    : source_(source), grouping_(grouping), stream_(chunking) {
  if (expectedLength > 0 && chunking.averageSize > 0) {
    chunks_.reserve(static_cast<std::size_t>(expectedLength / chunking.averageSize + 1));
  }
}

void LocalFileChunks::Feed(std::string_view bytes) {
  stream_.Feed(bytes, [this](std::string_view chunk) { AddChunk(chunk); });
}

void LocalFileChunks::Finish() {
  stream_.Finish([this](std::string_view chunk) { AddChunk(chunk); });
  EndGroup();
}

void LocalFileChunks::AddChunk(std::string_view chunk) {
  const LocalChunk added{ChunkIdOf(chunk), source_, static_cast<std::uint32_t>(chunk.size()), length_};
  if (chunks_.size() == chunks_.capacity() && !chunks_.empty()) chunks_.reserve(chunks_.size() + chunks_.size() / 8 + 64);
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
  if (file.chunks_.empty()) return;
  const auto fileNumber = static_cast<std::uint32_t>(files_.size());
  for (const LocalFileChunks::Group& group : file.groups_) {
    groups_.push_back({group.id, fileNumber, group.firstChunk, group.chunkCount});
  }
  firstNumbers_.push_back(static_cast<std::uint32_t>(chunkCount_));
  chunkCount_ += file.chunks_.size();
  files_.push_back(std::move(file.chunks_));
  file.chunks_ = {};
  file.groups_ = {};
}

const LocalChunk& LocalCatalogue::At(std::uint32_t number) const {
  const std::size_t file =
      static_cast<std::size_t>(std::upper_bound(firstNumbers_.begin(), firstNumbers_.end(), number) - firstNumbers_.begin()) - 1;
  return files_[file][number - firstNumbers_[file]];
}

void LocalCatalogue::Seal() {
  byId_.resize(chunkCount_);
  for (std::uint32_t i = 0; i < byId_.size(); ++i) byId_[i] = i;
  std::sort(byId_.begin(), byId_.end(), [this](std::uint32_t a, std::uint32_t b) { return IdLess(At(a).id, At(b).id); });
  std::sort(groups_.begin(), groups_.end(), [](const Group& a, const Group& b) { return IdLess(a.id, b.id); });
}

const LocalChunk* LocalCatalogue::FindChunk(const ChunkId& id) const {
  const auto found = std::lower_bound(byId_.begin(), byId_.end(), id,
                                      [this](std::uint32_t a, const ChunkId& b) { return IdLess(At(a).id, b); });
  return found != byId_.end() && At(*found).id == id ? &At(*found) : nullptr;
}

std::span<const LocalChunk> LocalCatalogue::FindGroup(const ChunkId& groupId) const {
  const auto found = std::lower_bound(groups_.begin(), groups_.end(), groupId,
                                      [](const Group& a, const ChunkId& b) { return IdLess(a.id, b); });
  if (found == groups_.end() || !(found->id == groupId)) return {};
  return std::span<const LocalChunk>(files_[found->file]).subspan(found->firstChunk, found->chunkCount);
}

}  // namespace velmora::delta
