#include "download/delta_fill.h"

#include <algorithm>
#include <map>
#include <new>
#include <optional>
#include <stdexcept>

#include "delta/chunk_compression.h"
#include "delta/fetch_plan.h"
#include "download/progress.h"
#include "download/range_fetch.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/hash.h"
#include "update/fingerprint.h"

namespace velmora::download {
namespace {

using delta::ByteRange;

// Ranges per request after a server did not answer many at once as asked.
constexpr std::size_t kFewerRanges = 16;
// Requests of one range each, at most, before the file is rather fetched whole.
constexpr std::size_t kMostSingleRangeRequests = 64;
constexpr std::uint32_t kProgressIntervalMs = 50;
// Local chunks that follow each other are copied in pieces of up to this many bytes.
constexpr std::uint64_t kMostCopiedAtOnce = 1 << 20;

bool Sha256Is(std::string_view bytes, const std::string& expectedHex) {
  platform::HashComputation sha256(update::kCalgSha256);
  sha256.Add(bytes);
  return update::LowerHexOfDigest(sha256.Finish(update::kSha256DigestLength)) == expectedHex;
}

bool SameRules(const delta::IndexHead& head) {
  const delta::ChunkingRule chunking = delta::DefaultChunkingRule();
  const delta::GroupingRule grouping = delta::DefaultGroupingRule();
  return head.chunking.minSize == chunking.minSize && head.chunking.averageSize == chunking.averageSize &&
         head.chunking.maxSize == chunking.maxSize && head.grouping.groupAverage == grouping.groupAverage &&
         head.grouping.groupMax == grouping.groupMax;
}

// Collects the parts of an answer into a buffer that stands for the resource's first bytes.
class BufferSink final : public delta::RangeSink {
 public:
  explicit BufferSink(std::string& buffer) : buffer_(buffer) {}
  bool Part(ByteRange range) override {
    if (range.first > buffer_.size() || range.length > buffer_.size() - range.first) return false;
    cursor_ = range.first;
    return true;
  }
  bool Data(std::string_view bytes) override {
    buffer_.replace(cursor_, bytes.size(), bytes);
    cursor_ += bytes.size();
    return true;
  }

 private:
  std::string& buffer_;
  std::uint64_t cursor_ = 0;
};

// One row's fill: its staging file, its counters and its progress.
class Fill {
 public:
  Fill(std::int32_t row, const state::UpdateEntry& entry, DownloadTask& task, const std::string& staging,
       const delta::LocalChunkSources* local)
      : row_(row), entry_(entry), task_(task), staging_(staging), local_(local), started_(platform::TickCount()) {}

  DeltaFillResult Run();

 private:
  struct PackChunk {
    delta::ChunkPlacement placement;      // the first placement; its pack bytes
    std::vector<std::uint64_t> fileOffsets;  // every place in the file it goes
    bool done = false;
  };
  class PackSink;

  // Fetches every request's ranges of `url` into `sink`, asking again with fewer ranges per request
  // when the server does not answer as asked. False, with `stopped` set on a stop, on failure.
  bool FetchAll(const std::string& url, const std::vector<std::vector<ByteRange>>& requests,
                std::uint64_t wholeLength, delta::RangeSink& sink);
  RangeFetchResult FetchOne(const std::string& url, const std::vector<ByteRange>& ranges, std::uint64_t wholeLength,
                            delta::RangeSink& sink);
  std::optional<delta::IndexHead> FetchHead(bool wholeIndex);
  bool FetchRecords(const delta::IndexHead& head, const delta::LocalCatalogue& catalogue,
                    std::vector<std::optional<std::vector<delta::IndexedChunk>>>& records);
  void CheckStagedChunks(const delta::ChunkPlan& plan, std::vector<char>& done);
  bool PlaceLocalChunks(const delta::ChunkPlan& plan, std::vector<char>& done);
  bool WriteAt(std::uint64_t offset, std::string_view bytes);
  void Placed(std::uint64_t bytes, bool force = false);

  std::int32_t row_;
  const state::UpdateEntry& entry_;
  DownloadTask& task_;
  const std::string& staging_;
  const delta::LocalChunkSources* local_;
  std::uint32_t started_;
  std::uint32_t lastReport_ = 0;
  std::uint64_t fileLength_ = 0;
  std::uint64_t placed_ = 0;
  std::uint64_t network_ = 0;
  bool stopped_ = false;
  bool wholeIndex_ = false;  // index_ holds the whole index, checked
  std::string index_;  // the index's bytes that arrived, at their offsets
  platform::OutputFile file_;
};

// Takes the pack's bytes as they arrive, puts each needed chunk together, checks and inflates it
// and writes it wherever the file has it. Bytes of chunks not needed (between joined ranges, or
// already in place) are passed over.
class Fill::PackSink final : public delta::RangeSink {
 public:
  PackSink(Fill& fill, std::vector<PackChunk>& chunks) : fill_(fill), chunks_(chunks) {}

  bool Part(ByteRange range) override {
    // A part that goes on where the last one ended (a server may split a range) continues its chunk.
    if (range.first != cursor_) current_ = nullptr;
    cursor_ = range.first;
    return true;
  }

  bool Data(std::string_view bytes) override {
    while (!bytes.empty()) {
      if (current_ == nullptr && !Find()) {
        // No chunk still needed starts here: pass over to the next one that starts later, or to the end.
        const auto next = std::upper_bound(chunks_.begin(), chunks_.end(), cursor_, StartsAfter);
        const std::uint64_t skip =
            next == chunks_.end() ? bytes.size() : std::min<std::uint64_t>(next->placement.packOffset - cursor_, bytes.size());
        cursor_ += skip;
        bytes.remove_prefix(static_cast<std::size_t>(skip));
        continue;
      }
      const std::uint64_t end = current_->placement.packOffset + current_->placement.packedLength;
      const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(end - cursor_, bytes.size()));
      packed_.append(bytes.substr(0, take));
      cursor_ += take;
      bytes.remove_prefix(take);
      if (cursor_ == end && !Complete()) return false;
    }
    return true;
  }

 private:
  static bool StartsBefore(const PackChunk& chunk, std::uint64_t offset) { return chunk.placement.packOffset < offset; }
  static bool StartsAfter(std::uint64_t offset, const PackChunk& chunk) { return offset < chunk.placement.packOffset; }

  // The needed chunk that starts at the cursor, when it is not in place yet.
  bool Find() {
    const auto found = std::lower_bound(chunks_.begin(), chunks_.end(), cursor_, StartsBefore);
    if (found == chunks_.end() || found->placement.packOffset != cursor_ || found->done) return false;
    current_ = &*found;
    packed_.clear();
    return true;
  }

  bool Complete() {
    PackChunk& chunk = *current_;
    current_ = nullptr;
    const auto bytes = delta::InflateChunk(packed_, chunk.placement.length);
    if (!bytes || delta::ChunkIdOf(*bytes) != chunk.placement.id) return false;  // not the chunk: fetched whole
    for (const std::uint64_t offset : chunk.fileOffsets) {
      if (!fill_.WriteAt(offset, *bytes)) return false;
    }
    chunk.done = true;
    fill_.Placed(static_cast<std::uint64_t>(chunk.placement.length) * chunk.fileOffsets.size());
    return true;
  }

  Fill& fill_;
  std::vector<PackChunk>& chunks_;
  std::uint64_t cursor_ = 0;
  PackChunk* current_ = nullptr;
  std::string packed_;
};

RangeFetchResult Fill::FetchOne(const std::string& url, const std::vector<ByteRange>& ranges,
                                std::uint64_t wholeLength, delta::RangeSink& sink) {
  const RangeFetchResult result = FetchRanges(url, ranges, wholeLength, sink, task_, [this](std::uint64_t bytes) {
    network_ += bytes;
    Placed(0);
  });
  if (result == RangeFetchResult::Stopped) stopped_ = true;
  return result;
}

bool Fill::FetchAll(const std::string& url, const std::vector<std::vector<ByteRange>>& requests,
                    std::uint64_t wholeLength, delta::RangeSink& sink) {
  for (const std::vector<ByteRange>& request : requests) {
    // The whole resource as one range is asked for without a Range header: any server sends that.
    const bool whole = request.size() == 1 && request[0].first == 0 && request[0].length == wholeLength;
    RangeFetchResult result = FetchOne(url, whole ? std::vector<ByteRange>{} : request, wholeLength, sink);
    if (result == RangeFetchResult::NotServed && request.size() > 1) {
      // Fewer ranges per request, then one per request (joined across the smallest gaps first
      // when there would be too many requests).
      std::vector<ByteRange> ranges = request;
      for (const std::size_t perRequest : {kFewerRanges, std::size_t{1}}) {
        if (perRequest == 1) ranges = delta::LimitRangeCount(ranges, kMostSingleRangeRequests);
        result = RangeFetchResult::Ok;
        for (std::size_t at = 0; at < ranges.size() && result == RangeFetchResult::Ok; at += perRequest) {
          const std::vector<ByteRange> part(ranges.begin() + static_cast<std::ptrdiff_t>(at),
                                            ranges.begin() + static_cast<std::ptrdiff_t>(std::min(at + perRequest, ranges.size())));
          result = FetchOne(url, part, wholeLength, sink);
        }
        if (result != RangeFetchResult::NotServed) break;
      }
    }
    if (result != RangeFetchResult::Ok) return false;
  }
  return true;
}

std::optional<delta::IndexHead> Fill::FetchHead(bool wholeIndex) {
  const state::UpdateEntry::DeltaSource& source = entry_.delta;
  const auto indexSize = static_cast<std::uint64_t>(source.indexSize);
  const auto headSize = static_cast<std::uint64_t>(source.headSize);
  index_.assign(static_cast<std::size_t>(indexSize), '\0');
  BufferSink sink(index_);
  const std::vector<ByteRange> request{wholeIndex ? ByteRange{0, indexSize} : ByteRange{0, headSize}};
  if (!FetchAll(source.indexUrl, {request}, indexSize, sink)) return std::nullopt;
  if (wholeIndex ? !Sha256Is(index_, source.indexSha256)
                 : !Sha256Is(std::string_view(index_).substr(0, static_cast<std::size_t>(headSize)), source.headSha256)) {
    return std::nullopt;
  }
  wholeIndex_ = wholeIndex;
  std::optional<delta::IndexHead> head = delta::DecodeHead(std::string_view(index_).substr(0, static_cast<std::size_t>(headSize)));
  if (!head || head->indexLength != indexSize || head->packLength != static_cast<std::uint64_t>(source.packSize) ||
      (entry_.size >= 0 && head->fileLength != static_cast<std::uint64_t>(entry_.size))) {
    return std::nullopt;
  }
  return head;
}

bool Fill::FetchRecords(const delta::IndexHead& head, const delta::LocalCatalogue& catalogue,
                        std::vector<std::optional<std::vector<delta::IndexedChunk>>>& records) {
  const delta::RecordsPlan plan = delta::PlanRecords(head, catalogue);
  BufferSink sink(index_);
  if (!plan.groups.empty() && !wholeIndex_ &&
      !FetchAll(entry_.delta.indexUrl, delta::ChooseRecordRequests(plan, head), head.indexLength, sink)) {
    return false;
  }
  records.assign(head.groups.size(), std::nullopt);
  for (const std::size_t i : plan.groups) {
    const delta::IndexedGroup& group = head.groups[i];
    records[i] = delta::DecodeRecord(std::string_view(index_).substr(group.recordOffset, group.recordLength), head, group);
    if (!records[i]) return false;
  }
  return true;
}

bool Fill::WriteAt(std::uint64_t offset, std::string_view bytes) {
  return file_.Seek(offset) && file_.Write(bytes.data(), bytes.size());
}

void Fill::Placed(std::uint64_t bytes, bool force) {
  placed_ += bytes;
  const std::uint32_t now = platform::TickCount();
  if (!force && now - lastReport_ < kProgressIntervalMs) return;
  lastReport_ = now;
  task_.SetPlacedProgress(static_cast<std::int64_t>(fileLength_), static_cast<std::int64_t>(placed_),
                          static_cast<std::int64_t>(network_), static_cast<std::int32_t>(now - started_));
  ReportProgress(0, 0, 0, 0, row_);
}

// Chunks that an earlier run put in place: a staging file of the file's length whose bytes at a
// chunk's place have the chunk's identity.
void Fill::CheckStagedChunks(const delta::ChunkPlan& plan, std::vector<char>& done) {
  if (platform::FileLength(staging_) != static_cast<std::int64_t>(fileLength_)) return;
  platform::InputFile staged;
  if (!staged.Open(staging_)) return;
  std::string bytes;
  for (std::size_t i = 0; i < plan.chunks.size(); ++i) {
    const delta::ChunkPlacement& chunk = plan.chunks[i];
    bytes.resize(chunk.length);
    if (staged.Read(bytes.data(), bytes.size()) != static_cast<std::int64_t>(chunk.length)) return;
    task_.AddArrivedBytes(chunk.length);
    if (delta::ChunkIdOf(bytes) == chunk.id) {
      done[i] = 1;
      placed_ += chunk.length;
    }
  }
}

bool Fill::PlaceLocalChunks(const delta::ChunkPlan& plan, std::vector<char>& done) {
  platform::InputFile source;
  std::uint32_t openSource = 0;
  bool sourceOpen = false;
  std::string bytes;
  for (std::size_t i = 0; i < plan.chunks.size();) {
    const delta::ChunkPlacement& chunk = plan.chunks[i];
    if (chunk.local == nullptr || done[i]) {
      ++i;
      continue;
    }
    // A run of chunks that follow each other in the same local file too is copied at once.
    std::size_t end = i + 1;
    std::uint64_t length = chunk.length;
    while (end < plan.chunks.size() && length < kMostCopiedAtOnce) {
      const delta::ChunkPlacement& next = plan.chunks[end];
      if (next.local == nullptr || done[end] || next.local->source != chunk.local->source ||
          next.local->offset != chunk.local->offset + length) {
        break;
      }
      length += next.length;
      ++end;
    }
    if (!sourceOpen || openSource != chunk.local->source) {
      source.Close();
      sourceOpen = chunk.local->source < local_->paths.size() && source.Open(local_->paths[chunk.local->source]);
      if (!sourceOpen) return false;
      openSource = chunk.local->source;
    }
    bytes.resize(static_cast<std::size_t>(length));
    if (!source.Seek(chunk.local->offset) ||
        source.Read(bytes.data(), bytes.size()) != static_cast<std::int64_t>(length) || !WriteAt(chunk.fileOffset, bytes)) {
      return false;
    }
    std::fill(done.begin() + static_cast<std::ptrdiff_t>(i), done.begin() + static_cast<std::ptrdiff_t>(end), 1);
    task_.AddArrivedBytes(static_cast<std::int64_t>(length));
    Placed(length);
    if (task_.StopRequested()) {
      stopped_ = true;
      return false;
    }
    i = end;
  }
  return true;
}

DeltaFillResult Fill::Run() {
  static const delta::LocalChunkSources kNothingHeld{};
  const delta::LocalChunkSources& held = local_ != nullptr ? *local_ : kNothingHeld;
  local_ = &held;
  const bool holdsChunks = held.catalogue.ChunkCount() > 0;
  std::optional<delta::IndexHead> head = FetchHead(!holdsChunks);
  if (!head) return stopped_ ? DeltaFillResult::Stopped : DeltaFillResult::Fallback;
  fileLength_ = head->fileLength;
  // Chunks cut by other rules than the index's cannot match: then nothing is held.
  const delta::LocalCatalogue& catalogue = SameRules(*head) ? held.catalogue : kNothingHeld.catalogue;
  std::vector<std::optional<std::vector<delta::IndexedChunk>>> records;
  if (!FetchRecords(*head, catalogue, records)) return stopped_ ? DeltaFillResult::Stopped : DeltaFillResult::Fallback;
  const std::optional<delta::ChunkPlan> plan = delta::PlanChunks(*head, records, catalogue);
  if (!plan) return DeltaFillResult::Fallback;

  std::vector<char> done(plan->chunks.size(), 0);
  CheckStagedChunks(*plan, done);
  if (!file_.Open(staging_, platform::OutputFile::Mode::Update, true) || !file_.SetLength(fileLength_)) {
    return DeltaFillResult::Fallback;
  }
  Placed(0, true);
  if (!PlaceLocalChunks(*plan, done)) return stopped_ ? DeltaFillResult::Stopped : DeltaFillResult::Fallback;

  // The missing chunks, each once (a repeated chunk goes to every place it has), by pack offset.
  std::map<std::uint64_t, PackChunk> byOffset;
  for (std::size_t i = 0; i < plan->chunks.size(); ++i) {
    if (done[i]) continue;
    const delta::ChunkPlacement& chunk = plan->chunks[i];
    PackChunk& needed = byOffset.try_emplace(chunk.packOffset, PackChunk{chunk, {}, false}).first->second;
    needed.fileOffsets.push_back(chunk.fileOffset);
  }
  std::vector<PackChunk> missing;
  std::vector<ByteRange> packRanges;
  for (auto& [offset, chunk] : byOffset) {
    packRanges.push_back({offset, chunk.placement.packedLength});
    missing.push_back(std::move(chunk));
  }
  PackSink sink(*this, missing);
  const auto requests = delta::ChoosePackRequests(delta::MergeRanges(packRanges, delta::kJoinGap), head->packLength);
  if (!FetchAll(entry_.delta.packUrl, requests, head->packLength, sink)) {
    return stopped_ ? DeltaFillResult::Stopped : DeltaFillResult::Fallback;
  }
  // A server may answer with fewer ranges than asked: what did not come is asked for once more,
  // one range per request.
  std::vector<ByteRange> notCome;
  for (const PackChunk& chunk : missing) {
    if (!chunk.done) notCome.push_back({chunk.placement.packOffset, chunk.placement.packedLength});
  }
  if (!notCome.empty()) {
    std::vector<std::vector<ByteRange>> oneEach;
    for (const ByteRange& range : delta::LimitRangeCount(delta::MergeRanges(notCome, 0), kMostSingleRangeRequests)) {
      oneEach.push_back({range});
    }
    if (!FetchAll(entry_.delta.packUrl, oneEach, head->packLength, sink)) {
      return stopped_ ? DeltaFillResult::Stopped : DeltaFillResult::Fallback;
    }
  }
  for (const PackChunk& chunk : missing) {
    if (!chunk.done) return DeltaFillResult::Fallback;  // a range that did not come
  }
  if (!file_.Flush()) return DeltaFillResult::Fallback;
  file_.Close();
  Placed(0, true);
  return DeltaFillResult::Filled;
}

}  // namespace

DeltaFillResult FillFromChunks(std::int32_t row, const state::UpdateEntry& entry, DownloadTask& task,
                               const std::string& staging, const delta::LocalChunkSources* local) {
  if (!entry.delta.Present()) return DeltaFillResult::Fallback;
  // The index is read into memory at the length the manifest gives: a length no index of the file
  // can have is not fetched, and sizes this computer cannot hold end in the whole file, never in
  // an exception on the row's thread.
  // An index takes about 0.3% of its file, and never more than 1% (a chunk of at least 2 KiB
  // costs at most 20 bytes): a larger one is no index of this file.
  constexpr std::int64_t kMostIndexWithoutSize = 32 << 20;
  const std::int64_t mostIndex = entry.size >= 0 ? entry.size / 64 + 65536 : kMostIndexWithoutSize;
  if (entry.delta.indexSize > mostIndex) return DeltaFillResult::Fallback;
  try {
    Fill fill(row, entry, task, staging, local);
    return fill.Run();
  } catch (const std::bad_alloc&) {
    return DeltaFillResult::Fallback;
  } catch (const std::length_error&) {
    return DeltaFillResult::Fallback;
  }
}

}  // namespace velmora::download
