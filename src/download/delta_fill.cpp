#include "download/delta_fill.h"

#include <algorithm>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>

#include "delta/chunk_compression.h"
#include "delta/fetch_plan.h"
#include "download/mirror_route.h"
#include "download/progress.h"
#include "download/range_fetch.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/hash.h"
#include "text/encoding.h"
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

// The bytes of the index that were fetched: the head and the ranges of records asked for (or the
// whole index), each kept at its offset. Receives answers as a sink.
class IndexBytes final : public delta::RangeSink {
 public:
  // Makes room for the ranges of `requests`, which lie apart from every range already held.
  void Expect(const std::vector<std::vector<ByteRange>>& requests) {
    for (const auto& request : requests) {
      for (const ByteRange& range : request) pieces_.push_back({range, std::string(static_cast<std::size_t>(range.length), '\0')});
    }
    std::sort(pieces_.begin(), pieces_.end(), [](const Piece& a, const Piece& b) { return a.range.first < b.range.first; });
  }

  // The bytes [first, first + length) when one range held covers them.
  std::optional<std::string_view> View(std::uint64_t first, std::uint64_t length) const {
    const Piece* piece = Covering(first);
    if (piece == nullptr || length > piece->range.End() - first) return std::nullopt;
    return std::string_view(piece->bytes).substr(static_cast<std::size_t>(first - piece->range.first),
                                                 static_cast<std::size_t>(length));
  }

  bool Part(ByteRange range) override {
    current_ = const_cast<Piece*>(Covering(range.first));
    if (current_ == nullptr || range.length > current_->range.End() - range.first) return false;
    cursor_ = range.first - current_->range.first;
    return true;
  }
  bool Data(std::string_view bytes) override {
    if (current_ == nullptr || bytes.size() > current_->bytes.size() - cursor_) return false;
    current_->bytes.replace(static_cast<std::size_t>(cursor_), bytes.size(), bytes);
    cursor_ += bytes.size();
    return true;
  }

 private:
  struct Piece {
    ByteRange range;
    std::string bytes;
  };

  const Piece* Covering(std::uint64_t offset) const {
    auto after = std::upper_bound(pieces_.begin(), pieces_.end(), offset,
                                  [](std::uint64_t at, const Piece& piece) { return at < piece.range.first; });
    if (after == pieces_.begin()) return nullptr;
    --after;
    return offset < after->range.End() ? &*after : nullptr;
  }

  std::vector<Piece> pieces_;
  Piece* current_ = nullptr;
  std::uint64_t cursor_ = 0;
};

// One row's fill: its staging file, its counters and its progress. The new file is put together
// in order, chunk by chunk (delta::NewFileWalk): local chunks copied, repeats copied from their
// first place, and each chunk the pack gives inflated when its bytes arrive, with the file's bytes
// before it already in place as its dictionary (index version 2). The pack is asked for in the
// same order, so the walk and the answer advance together.
class Fill {
 public:
  Fill(std::int32_t row, const state::UpdateEntry& entry, DownloadTask& task, const std::string& staging,
       const delta::LocalChunkSources* local)
      : row_(row), entry_(entry), task_(task), staging_(staging), local_(local), started_(platform::TickCount()) {}

  DeltaFillResult Run();

 private:
  class PackSink;
  // A run of local chunks that follow each other in one local file and in the new file.
  struct LocalRun {
    std::uint32_t source = 0;
    std::uint64_t sourceOffset = 0;
    std::uint64_t fileOffset = 0;
    std::uint64_t length = 0;
  };

  // Fetches every request's ranges of `url` into `sink`, asking again with fewer ranges per request
  // when the server does not answer as asked. False, with `stopped` set on a stop, on failure.
  bool FetchAll(const std::string& url, const std::vector<std::vector<ByteRange>>& requests,
                std::uint64_t wholeLength, delta::RangeSink& sink);
  RangeFetchResult FetchOne(const std::string& url, const std::vector<ByteRange>& ranges, std::uint64_t wholeLength,
                            delta::RangeSink& sink);
  // FetchOne at the route's mirror; a request that a mirror fails before any of its body arrived
  // is asked of the next mirror (mirror_route.h). One that breaks off within its body fails.
  RangeFetchResult FetchOnMirrors(MirrorRoute& route, const std::vector<ByteRange>& ranges, std::uint64_t wholeLength,
                                  delta::RangeSink& sink);
  std::optional<delta::IndexHead> FetchHead(bool wholeIndex);
  bool FetchRecords(const delta::IndexHead& head, const delta::LocalCatalogue& catalogue);
  std::optional<delta::PackPlan> PlanFill(const delta::IndexHead& head, const delta::LocalCatalogue& catalogue);
  // Places the new file's chunks in order up to the next one that the pack gives (pending_), or
  // to the end of the file. False on a failure or a stop.
  bool PlaceUpToPack();
  bool PlacePacked(std::string_view packed);
  bool CopyLocal(const delta::ChunkPlacement& chunk);
  bool FlushLocalRun();
  bool CopyRepeat(const delta::ChunkPlacement& chunk);
  std::optional<std::string> DictionaryAt(std::uint64_t fileOffset);
  bool WriteAt(std::uint64_t offset, std::string_view bytes);
  bool ReadAt(std::uint64_t offset, std::uint64_t length, std::string& bytes);
  void Remember(std::uint64_t offset, std::string_view bytes);
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
  IndexBytes index_;
  delta::RecordBytes records_ = [this](const delta::IndexedGroup& group) {
    return index_.View(group.recordOffset, group.recordLength);
  };
  platform::OutputFile file_;
  const delta::IndexHead* head_ = nullptr;
  std::unique_ptr<delta::NewFileWalk> walk_;
  std::vector<bool> inPlace_;  // per chunk of the new file, in order, while a resumed fill's staging file lasts
  std::size_t walked_ = 0;     // chunks the walk has given
  delta::ChunkPlacement pending_;
  bool hasPending_ = false;
  LocalRun run_;
  platform::InputFile source_;
  std::uint32_t openSource_ = 0;
  bool sourceOpen_ = false;
  std::string recent_;  // the new file's bytes that end at recentEnd_, for the next dictionary
  std::uint64_t recentEnd_ = 0;
  std::string bytes_;
};

// Takes the pack's bytes as they arrive and hands the pending chunk's bytes, once whole, to the
// fill. Bytes before it (between joined ranges, or of chunks already in place) are passed over;
// bytes past it mean that its range did not come in order: they are passed over too, and the
// rest is asked for again.
class Fill::PackSink final : public delta::RangeSink {
 public:
  explicit PackSink(Fill& fill) : fill_(fill) {}

  bool Part(ByteRange range) override {
    // A part that goes on where the last one ended (a server may split a range) continues its chunk.
    if (range.first != cursor_) collecting_ = false;
    cursor_ = range.first;
    return true;
  }

  bool Data(std::string_view bytes) override {
    while (!bytes.empty()) {
      if (!collecting_) {
        const std::uint64_t wanted = fill_.pending_.packOffset;
        if (!fill_.hasPending_ || cursor_ > wanted) {
          cursor_ += bytes.size();
          return true;
        }
        if (cursor_ < wanted) {
          const std::size_t skip = static_cast<std::size_t>(std::min<std::uint64_t>(wanted - cursor_, bytes.size()));
          cursor_ += skip;
          bytes.remove_prefix(skip);
          continue;
        }
        collecting_ = true;
        packed_.clear();
      }
      const std::uint64_t end = fill_.pending_.packOffset + fill_.pending_.packedLength;
      const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(end - cursor_, bytes.size()));
      packed_.append(bytes.substr(0, take));
      cursor_ += take;
      bytes.remove_prefix(take);
      if (cursor_ == end) {
        collecting_ = false;
        if (!fill_.PlacePacked(packed_)) return false;
      }
    }
    return true;
  }

 private:
  Fill& fill_;
  std::uint64_t cursor_ = 0;
  bool collecting_ = false;
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

RangeFetchResult Fill::FetchOnMirrors(MirrorRoute& route, const std::vector<ByteRange>& ranges,
                                      std::uint64_t wholeLength, delta::RangeSink& sink) {
  for (;;) {
    const std::uint64_t before = network_;
    const RangeFetchResult result = FetchOne(route.Url(), ranges, wholeLength, sink);
    const bool mirrorFault = result == RangeFetchResult::Failed ||
                             (result == RangeFetchResult::NotServed && IsMirrorFault(task_.LastHttpStatus()));
    if (!mirrorFault || !route.Mirrored()) return result;
    if (network_ != before) {
      route.Leave("the body broke off");  // the sink has taken part of it: the fill ends here
      return RangeFetchResult::Failed;
    }
    if (!route.Leave(FaultText(task_.LastHttpStatus(), task_.LastErrorCode()))) return result;
    route.NoteRequest(std::to_string(ranges.size()) + " ranges");
  }
}

bool Fill::FetchAll(const std::string& url, const std::vector<std::vector<ByteRange>>& requests,
                    std::uint64_t wholeLength, delta::RangeSink& sink) {
  MirrorRoute route = MirrorRoute::OfRun(url, "row " + std::to_string(row_) + " " + text::NarrowToUtf8(entry_.path));
  route.NoteRequest(std::to_string(requests.size()) + " range requests");
  for (const std::vector<ByteRange>& request : requests) {
    // The whole resource as one range is asked for without a Range header: any server sends that.
    const bool whole = request.size() == 1 && request[0].first == 0 && request[0].length == wholeLength;
    RangeFetchResult result = FetchOnMirrors(route, whole ? std::vector<ByteRange>{} : request, wholeLength, sink);
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
          result = FetchOnMirrors(route, part, wholeLength, sink);
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
  if (headSize > indexSize) return std::nullopt;
  const std::vector<std::vector<ByteRange>> requests{{wholeIndex ? ByteRange{0, indexSize} : ByteRange{0, headSize}}};
  index_.Expect(requests);
  if (!FetchAll(source.indexUrl, requests, indexSize, index_)) return std::nullopt;
  const std::optional<std::string_view> checked = index_.View(0, wholeIndex ? indexSize : headSize);
  if (!checked || !Sha256Is(*checked, wholeIndex ? source.indexSha256 : source.headSha256)) return std::nullopt;
  wholeIndex_ = wholeIndex;
  // A head of a version this updater does not read does not decode: the file is fetched whole.
  std::optional<delta::IndexHead> head = delta::DecodeHead(checked->substr(0, static_cast<std::size_t>(headSize)));
  if (!head || head->indexLength != indexSize || head->packLength != static_cast<std::uint64_t>(source.packSize) ||
      (entry_.size >= 0 && head->fileLength != static_cast<std::uint64_t>(entry_.size))) {
    return std::nullopt;
  }
  return head;
}

// Fetches the records of the groups not held and checks each one (by its group's identity), so
// that a damaged index ends in the whole file before anything is written.
bool Fill::FetchRecords(const delta::IndexHead& head, const delta::LocalCatalogue& catalogue) {
  const delta::RecordsPlan plan = delta::PlanRecords(head, catalogue);
  if (!plan.groups.empty() && !wholeIndex_) {
    const auto requests = delta::ChooseRecordRequests(plan, head);
    index_.Expect(requests);
    if (!FetchAll(entry_.delta.indexUrl, requests, head.indexLength, index_)) return false;
  }
  for (const std::size_t i : plan.groups) {
    const delta::IndexedGroup& group = head.groups[i];
    const std::optional<std::string_view> record = index_.View(group.recordOffset, group.recordLength);
    if (!record || !delta::DecodeRecord(*record, head, group)) return false;
  }
  return true;
}

// The pack's ranges for the chunks not in place. Chunks that an earlier run put in place (a
// staging file of the file's length whose bytes at a chunk's place have the chunk's identity) are
// kept, so a fill resumes at chunk granularity.
std::optional<delta::PackPlan> Fill::PlanFill(const delta::IndexHead& head, const delta::LocalCatalogue& catalogue) {
  platform::InputFile staged;
  bool resuming = platform::FileLength(staging_) == static_cast<std::int64_t>(fileLength_) && staged.Open(staging_);
  std::string bytes;
  const auto inPlace = [&](const delta::ChunkPlacement& chunk) {
    if (!resuming) return false;
    bytes.resize(chunk.length);
    if (staged.Read(bytes.data(), bytes.size()) != static_cast<std::int64_t>(chunk.length)) {
      resuming = false;
      return false;
    }
    task_.AddArrivedBytes(chunk.length);
    const bool held = delta::ChunkIdOf(bytes) == chunk.id;
    inPlace_.push_back(held);
    if (held) placed_ += chunk.length;
    return held;
  };
  return delta::PlanPack(head, records_, catalogue, inPlace);
}

bool Fill::WriteAt(std::uint64_t offset, std::string_view bytes) {
  return file_.Seek(offset) && file_.Write(bytes.data(), bytes.size());
}

bool Fill::ReadAt(std::uint64_t offset, std::uint64_t length, std::string& bytes) {
  bytes.resize(static_cast<std::size_t>(length));
  std::size_t done = 0;
  if (!file_.Seek(offset)) return false;
  while (done < bytes.size()) {
    const std::int64_t got = file_.Read(bytes.data() + done, bytes.size() - done);
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

// Keeps the new file's last kDictionaryLength bytes written in order; a write elsewhere starts
// them again.
void Fill::Remember(std::uint64_t offset, std::string_view bytes) {
  if (!head_->UsesDictionary()) return;
  if (offset != recentEnd_) recent_.clear();
  if (bytes.size() >= delta::kDictionaryLength) {
    recent_.assign(bytes.substr(bytes.size() - delta::kDictionaryLength));
  } else {
    recent_.append(bytes);
    if (recent_.size() >= 2 * delta::kDictionaryLength) recent_.erase(0, recent_.size() - delta::kDictionaryLength);
  }
  recentEnd_ = offset + bytes.size();
}

// The bytes before `fileOffset` that a chunk placed there was deflated with: those kept, or read
// back from the staging file (after chunks that an earlier run put in place).
std::optional<std::string> Fill::DictionaryAt(std::uint64_t fileOffset) {
  const std::uint64_t wanted = std::min<std::uint64_t>(fileOffset, delta::kDictionaryLength);
  if (recentEnd_ == fileOffset && recent_.size() >= wanted) return recent_.substr(recent_.size() - wanted);
  std::string bytes;
  if (!ReadAt(fileOffset - wanted, wanted, bytes)) return std::nullopt;
  return bytes;
}

bool Fill::CopyLocal(const delta::ChunkPlacement& chunk) {
  const delta::LocalChunk& local = *chunk.local;
  if (run_.length > 0 && run_.source == local.source && run_.sourceOffset + run_.length == local.offset &&
      run_.fileOffset + run_.length == chunk.fileOffset && run_.length < kMostCopiedAtOnce) {
    run_.length += chunk.length;
    return true;
  }
  if (!FlushLocalRun()) return false;
  run_ = {local.source, local.offset, chunk.fileOffset, chunk.length};
  return true;
}

// Copies the run of local chunks gathered so far, at once.
bool Fill::FlushLocalRun() {
  if (run_.length == 0) return true;
  const LocalRun run = run_;
  run_.length = 0;
  if (!sourceOpen_ || openSource_ != run.source) {
    source_.Close();
    sourceOpen_ = run.source < local_->paths.size() && source_.Open(local_->paths[run.source]);
    if (!sourceOpen_) return false;
    openSource_ = run.source;
  }
  bytes_.resize(static_cast<std::size_t>(run.length));
  if (!source_.Seek(run.sourceOffset) ||
      source_.Read(bytes_.data(), bytes_.size()) != static_cast<std::int64_t>(run.length) ||
      !WriteAt(run.fileOffset, bytes_)) {
    return false;
  }
  Remember(run.fileOffset, bytes_);
  task_.AddArrivedBytes(static_cast<std::int64_t>(run.length));
  Placed(run.length);
  if (task_.StopRequested()) {
    stopped_ = true;
    return false;
  }
  return true;
}

// A repeat the computer holds nowhere is the chunk at its first place in the new file, which is
// in place already: the walk put it there, or an earlier run did.
bool Fill::CopyRepeat(const delta::ChunkPlacement& chunk) {
  const std::optional<std::uint64_t> first = delta::StoredPlace(*head_, records_, chunk.packOffset, chunk.packedLength);
  if (!first || *first >= chunk.fileOffset || !ReadAt(*first, chunk.length, bytes_) ||
      delta::ChunkIdOf(bytes_) != chunk.id || !WriteAt(chunk.fileOffset, bytes_)) {
    return false;
  }
  Remember(chunk.fileOffset, bytes_);
  Placed(chunk.length);
  return true;
}

bool Fill::PlaceUpToPack() {
  delta::ChunkPlacement chunk;
  while (walk_->Next(chunk)) {
    const std::size_t number = walked_++;
    if (number < inPlace_.size() && inPlace_[number]) continue;
    if (chunk.local != nullptr) {
      if (!CopyLocal(chunk)) return false;
      continue;
    }
    if (!FlushLocalRun()) return false;
    if (chunk.repeat) {
      if (!CopyRepeat(chunk)) return false;
      continue;
    }
    pending_ = chunk;
    hasPending_ = true;
    return true;
  }
  hasPending_ = false;
  return FlushLocalRun() && walk_->Complete();
}

bool Fill::PlacePacked(std::string_view packed) {
  const delta::ChunkPlacement chunk = pending_;
  std::optional<std::string> dictionary;
  if (head_->UsesDictionary()) {
    dictionary = DictionaryAt(chunk.fileOffset);
    if (!dictionary) return false;
  }
  const auto bytes = delta::InflateChunk(packed, chunk.length, dictionary ? std::string_view(*dictionary) : std::string_view());
  if (!bytes || delta::ChunkIdOf(*bytes) != chunk.id) return false;  // not the chunk: fetched whole
  if (!WriteAt(chunk.fileOffset, *bytes)) return false;
  Remember(chunk.fileOffset, *bytes);
  Placed(chunk.length);
  return PlaceUpToPack();
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

DeltaFillResult Fill::Run() {
  static const delta::LocalChunkSources kNothingHeld{};
  const delta::LocalChunkSources& held = local_ != nullptr ? *local_ : kNothingHeld;
  local_ = &held;
  const bool holdsChunks = held.catalogue.ChunkCount() > 0;
  std::optional<delta::IndexHead> head = FetchHead(!holdsChunks);
  if (!head) return stopped_ ? DeltaFillResult::Stopped : DeltaFillResult::Fallback;
  head_ = &*head;
  fileLength_ = head->fileLength;
  // Chunks cut by other rules than the index's cannot match: then nothing is held.
  const delta::LocalCatalogue& catalogue = SameRules(*head) ? held.catalogue : kNothingHeld.catalogue;
  if (!FetchRecords(*head, catalogue)) return stopped_ ? DeltaFillResult::Stopped : DeltaFillResult::Fallback;
  const std::optional<delta::PackPlan> plan = PlanFill(*head, catalogue);
  if (!plan) return DeltaFillResult::Fallback;

  if (!file_.Open(staging_, platform::OutputFile::Mode::Update, true) || !file_.SetLength(fileLength_)) {
    return DeltaFillResult::Fallback;
  }
  Placed(0, true);
  walk_ = std::make_unique<delta::NewFileWalk>(*head, records_, catalogue);
  const auto failed = [this] { return stopped_ ? DeltaFillResult::Stopped : DeltaFillResult::Fallback; };
  if (!PlaceUpToPack()) return failed();
  PackSink sink(*this);
  if (hasPending_ &&
      !FetchAll(entry_.delta.packUrl, delta::ChoosePackRequests(plan->packRanges, head->packLength), head->packLength, sink)) {
    return failed();
  }
  if (hasPending_) {
    // A server may answer with fewer ranges than asked, or in another order: the rest, from the
    // chunk the walk waits for on, is asked for once more, one range per request, in order.
    std::vector<ByteRange> rest;
    for (const ByteRange& range : plan->packRanges) {
      if (range.End() <= pending_.packOffset) continue;
      const std::uint64_t first = std::max(range.first, pending_.packOffset);
      rest.push_back({first, range.End() - first});
    }
    std::vector<std::vector<ByteRange>> oneEach;
    for (const ByteRange& range : delta::LimitRangeCount(rest, kMostSingleRangeRequests)) oneEach.push_back({range});
    if (!FetchAll(entry_.delta.packUrl, oneEach, head->packLength, sink)) return failed();
  }
  if (hasPending_ || !walk_->Complete()) return DeltaFillResult::Fallback;  // a range that did not come
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
