// Fuzz target: what a server sends for a delta update, untrusted bytes all of them.
//
// The first byte chooses the reader. Even: the rest is a chunk index: its head's length, the head
// and every record it names are decoded, and whatever decodes must add up (the groups' lengths to
// the file's, the records' chunks to their groups'), and a client's walk over the file (a held
// nothing) gives every chunk in order, each repeat's first place before it. Odd: the rest is the body of a 206 answer to
// a request for three ranges, as multipart/byteranges, fed in pieces whose sizes the input gives:
// every byte handed on must lie within a part that lies within a range asked for, and a part never
// gets more bytes than its range.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

#include "delta/chunk_index.h"
#include "delta/fetch_plan.h"
#include "delta/multipart_ranges.h"

namespace {

using velmora::delta::ByteRange;

void Require(bool condition) {
  if (!condition) std::abort();
}

void ReadIndex(std::string_view index) {
  const auto headLength = velmora::delta::HeadLengthOf(index);
  if (!headLength) return;
  const auto head = velmora::delta::DecodeHead(index.substr(0, static_cast<std::size_t>(*headLength)));
  if (!head) return;
  std::uint64_t length = 0;
  for (const velmora::delta::IndexedGroup& group : head->groups) {
    length += group.length;
    if (group.recordOffset > index.size() || group.recordLength > index.size() - group.recordOffset) continue;
    const auto record = velmora::delta::DecodeRecord(index.substr(group.recordOffset, group.recordLength), *head, group);
    if (!record) continue;
    std::uint64_t recordLength = 0;
    for (const velmora::delta::IndexedChunk& chunk : *record) {
      Require(chunk.length > 0 && chunk.length <= head->chunking.maxSize);
      Require(chunk.packOffset + chunk.packedLength <= head->packLength);
      recordLength += chunk.length;
    }
    Require(record->size() == group.chunkCount && recordLength == group.length);
  }
  Require(length == head->fileLength);

  const velmora::delta::RecordBytes records =
      [index](const velmora::delta::IndexedGroup& group) -> std::optional<std::string_view> {
    if (group.recordOffset > index.size() || group.recordLength > index.size() - group.recordOffset) return std::nullopt;
    return index.substr(group.recordOffset, group.recordLength);
  };
  const velmora::delta::LocalCatalogue nothingHeld;
  velmora::delta::NewFileWalk walk(*head, records, nothingHeld);
  velmora::delta::ChunkPlacement chunk;
  std::uint64_t offset = 0;
  while (walk.Next(chunk)) {
    Require(chunk.fileOffset == offset && chunk.local == nullptr);
    offset += chunk.length;
    if (!chunk.repeat) continue;
    const auto first = velmora::delta::StoredPlace(*head, records, chunk.packOffset, chunk.packedLength);
    Require(!first || *first < chunk.fileOffset);
  }
  Require(!walk.Complete() || offset == head->fileLength);
}

class CheckingSink final : public velmora::delta::RangeSink {
 public:
  // `joined`: the ranges asked for, those that touch joined (a part may span them).
  explicit CheckingSink(const std::vector<ByteRange>& joined) : asked_(joined) {}
  bool Part(ByteRange range) override {
    bool within = false;
    for (const ByteRange& ask : asked_) within = within || (range.first >= ask.first && range.End() <= ask.End());
    Require(within && range.length > 0);
    left_ = range.length;
    return true;
  }
  bool Data(std::string_view bytes) override {
    Require(!bytes.empty() && bytes.size() <= left_);
    left_ -= bytes.size();
    return true;
  }

 private:
  std::vector<ByteRange> asked_;
  std::uint64_t left_ = 0;
};

void ReadAnswer(std::string_view body) {
  // Ranges that touch, as a client joins them, and one apart.
  const std::vector<ByteRange> asked{{0, 100}, {100, 50}, {1000, 200}};
  CheckingSink sink(velmora::delta::MergeRanges(asked, 0));
  velmora::delta::RangeAnswerParser parser("multipart/byteranges; boundary=00000000000000000001", "", asked, sink);
  std::size_t at = 0;
  std::size_t piece = 1;
  while (at < body.size()) {
    const std::size_t size = std::min(piece, body.size() - at);
    if (!parser.Feed(body.substr(at, size))) return;
    at += size;
    piece = piece * 3 % 97 + 1;
  }
  parser.Finish();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] % 2 == 0) {
    ReadIndex(rest);
  } else {
    ReadAnswer(rest);
  }
  return 0;
}
