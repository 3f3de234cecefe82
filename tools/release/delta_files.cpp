#include "delta_files.h"

#include <memory>
#include <unordered_map>
#include <vector>

#include "delta/chunk_compression.h"
#include "delta/chunk_id.h"
#include "delta/chunker.h"
#include "delta/index_writer.h"
#include "delta/varint.h"
#include "platform/file.h"
#include "platform/hash.h"
#include "release_files.h"
#include "text/encoding.h"
#include "update/fingerprint.h"

namespace velmora::release {
namespace {

constexpr std::size_t kPieceSize = 1 << 20;
// An index takes a dozen bytes or so per chunk, and chunks average 64 bytes at the very least: one
// longer than its file and a little more is no index of it (and is not read into memory).
constexpr std::uint64_t kIndexSlack = 4096;

std::string Shown(const std::string& gbkPath) { return text::NarrowToUtf8(gbkPath); }

std::string Sha256Hex(std::string_view bytes) {
  return update::LowerCaseDigest(update::HashBytes(bytes, update::kCalgSha256, update::kSha256DigestLength));
}

std::string FinishSha256(platform::HashComputation& hash) {
  return update::LowerHexOfDigest(hash.Finish(update::kSha256DigestLength));
}

// Reads exactly `size` bytes into `out`; false at the end of the file or on an error.
bool ReadExactly(platform::InputFile& file, std::size_t size, std::string& out) {
  out.resize(size);
  std::size_t done = 0;
  while (done < size) {
    const std::int64_t got = file.Read(out.data() + done, size - done);
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

// Follows a file's chunks against the chunks its index lists, group by group, and its stored
// chunks against the pack.
class IndexMatcher {
 public:
  IndexMatcher(std::string_view index, const delta::IndexHead& head, platform::InputFile& pack)
      : index_(index), head_(head), pack_(pack), packHash_(update::kCalgSha256) {}

  // The file's next chunk: false when it is not the one the index lists next.
  bool Match(std::string_view chunk) {
    const bool matches = MatchListed(chunk);
    if (matches && head_.UsesDictionary()) {
      before_.append(chunk);
      if (before_.size() >= 2 * delta::kDictionaryLength) before_.erase(0, before_.size() - delta::kDictionaryLength);
    }
    return matches;
  }

  // Every listed chunk was matched and the whole pack read; `packSha256` then receives its digest.
  bool Complete(std::string& packSha256) {
    if (next_ != chunks_.size() || group_ != head_.groups.size() || packRead_ != head_.packLength) return false;
    char extra = 0;
    if (pack_.Read(&extra, 1) != 0) return false;
    packSha256 = FinishSha256(packHash_);
    return packSha256.size() == 2 * update::kSha256DigestLength;
  }

 private:
  struct Stored {
    delta::ChunkId id;
    std::uint32_t packedLength;
  };

  bool MatchListed(std::string_view chunk) {
    if (!NextListed()) return false;
    const delta::IndexedChunk& listed = chunks_[next_++];
    if (listed.length != chunk.size()) return false;
    const delta::ChunkId id = delta::ChunkIdOf(chunk);
    if (!(id == listed.id)) return false;
    if (listed.repeat) {
      const auto stored = stored_.find(listed.packOffset);
      return stored != stored_.end() && stored->second.id == id && stored->second.packedLength == listed.packedLength;
    }
    // Stored chunks follow each other in the pack in the order of the file (DecodeRecord).
    std::string packed;
    if (listed.packOffset != packRead_ || !ReadExactly(pack_, listed.packedLength, packed)) return false;
    packRead_ += listed.packedLength;
    packHash_.Add(packed);
    const std::optional<std::string> inflated = delta::InflateChunk(packed, listed.length, before_);
    if (!inflated || *inflated != chunk) return false;
    stored_.emplace(listed.packOffset, Stored{id, listed.packedLength});
    return true;
  }

  // Decodes the next group's record when this one's chunks are used up.
  bool NextListed() {
    while (next_ == chunks_.size()) {
      if (group_ == head_.groups.size()) return false;
      const delta::IndexedGroup& group = head_.groups[group_++];
      auto chunks = delta::DecodeRecord(index_.substr(group.recordOffset, group.recordLength), head_, group);
      if (!chunks) return false;
      chunks_ = std::move(*chunks);
      next_ = 0;
    }
    return true;
  }

  std::string_view index_;
  const delta::IndexHead& head_;
  platform::InputFile& pack_;
  platform::HashComputation packHash_;
  std::size_t group_ = 0;
  std::vector<delta::IndexedChunk> chunks_;
  std::size_t next_ = 0;
  std::uint64_t packRead_ = 0;
  std::string before_;  // version 2: the file's last bytes before the next chunk, the dictionary
  std::unordered_map<std::uint64_t, Stored> stored_;  // by place in the pack
};

}  // namespace

std::optional<delta::IndexHead> DecodeWholeIndex(std::string_view index, std::uint64_t headSize,
                                                 std::string& problem) {
  problem.clear();
  if (headSize > index.size()) {
    problem = "its head of " + std::to_string(headSize) + " bytes is longer than the index";
    return std::nullopt;
  }
  std::optional<delta::IndexHead> head = delta::DecodeHead(index.substr(0, static_cast<std::size_t>(headSize)));
  if (!head) {
    problem = "its first " + std::to_string(headSize) + " bytes do not decode as a head";
    return std::nullopt;
  }
  if (head->indexLength != index.size()) {
    problem = "its head lists records up to byte " + std::to_string(head->indexLength) + ", the index has " +
              std::to_string(index.size());
    return std::nullopt;
  }
  for (std::size_t i = 0; i < head->groups.size(); ++i) {
    const delta::IndexedGroup& group = head->groups[i];
    if (!delta::DecodeRecord(index.substr(group.recordOffset, group.recordLength), *head, group)) {
      problem = "the record of group " + std::to_string(i + 1) + " (at byte " + std::to_string(group.recordOffset) +
                ") does not decode";
      return std::nullopt;
    }
  }
  return head;
}

std::optional<DeltaFiles> ExistingDeltaFiles(const std::string& source, const std::string& stored,
                                             const std::string& md5, std::uint64_t size) {
  const std::string indexPath = stored + kIndexSuffix;
  const std::int64_t indexLength = platform::FileLength(indexPath);
  if (indexLength <= 0 || static_cast<std::uint64_t>(indexLength) > size + kIndexSlack) return std::nullopt;
  std::string index;
  if (!ReadWholeFile(indexPath, index)) return std::nullopt;
  const std::optional<std::uint64_t> headLength = delta::HeadLengthOf(index);
  if (!headLength) return std::nullopt;
  std::string problem;
  const std::optional<delta::IndexHead> head = DecodeWholeIndex(index, *headLength, problem);
  if (!head || head->fileLength != size) return std::nullopt;
  const std::string packPath = stored + kPackSuffix;
  if (platform::FileLength(packPath) != static_cast<std::int64_t>(head->packLength)) return std::nullopt;

  platform::InputFile file;
  platform::InputFile pack;
  if (!file.Open(source) || !pack.Open(packPath)) return std::nullopt;
  IndexMatcher matcher(index, *head, pack);
  platform::HashComputation fileHash(update::kCalgMd5);
  delta::Chunker chunker(head->chunking);
  std::string pending;  // the bytes of a chunk that began in an earlier piece
  bool matches = true;
  const auto cut = [&](std::string_view piece, std::size_t& consumed) {
    return [&, piece](std::uint64_t length) {
      if (!matches) return;
      const std::size_t fromPiece = static_cast<std::size_t>(length) - pending.size();
      if (pending.empty()) {
        matches = matcher.Match(piece.substr(consumed, fromPiece));
      } else {
        pending.append(piece.substr(consumed, fromPiece));
        matches = matcher.Match(pending);
        pending.clear();
      }
      consumed += fromPiece;
    };
  };
  const auto buffer = std::make_unique<char[]>(kPieceSize);
  std::uint64_t total = 0;
  while (matches) {
    const std::int64_t got = file.Read(buffer.get(), kPieceSize);
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    const std::string_view piece(buffer.get(), static_cast<std::size_t>(got));
    total += piece.size();
    if (total > size || !fileHash.Add(piece)) return std::nullopt;
    std::size_t consumed = 0;
    chunker.Feed(piece, cut(piece, consumed));
    if (matches) pending.append(piece.substr(consumed));
  }
  if (!matches || total != size) return std::nullopt;
  std::size_t none = 0;
  chunker.Finish(cut(std::string_view(), none));
  DeltaFiles files;
  if (!matches || !matcher.Complete(files.packSha256) ||
      update::Md5HexOfDigest(fileHash.Finish(update::kMd5DigestLength)) != md5) {
    return std::nullopt;
  }
  files.indexSize = index.size();
  files.indexSha256 = Sha256Hex(index);
  files.headSize = *headLength;
  files.headSha256 = Sha256Hex(std::string_view(index).substr(0, static_cast<std::size_t>(*headLength)));
  files.packSize = head->packLength;
  return files;
}

bool PublishDeltaFiles(const std::string& source, const std::string& stored, const std::string& md5,
                       std::uint64_t size, DeltaFiles& files, DeltaWrite& how, std::string& error) {
  if (std::optional<DeltaFiles> existing = ExistingDeltaFiles(source, stored, md5, size)) {
    files = std::move(*existing);
    how = DeltaWrite::Kept;
    return true;
  }
  how = DeltaWrite::Written;
  const std::string indexPath = stored + kIndexSuffix;
  const std::string packPath = stored + kPackSuffix;
  const std::string stagedPack = packPath + kStagedSuffix;
  platform::InputFile file;
  if (!file.Open(source)) {
    error = "cannot open " + Shown(source);
    return false;
  }
  platform::OutputFile pack;
  if (!pack.Open(stagedPack, platform::OutputFile::Mode::CreateOrTruncate)) {
    error = "cannot create " + Shown(stagedPack);
    return false;
  }
  platform::HashComputation packHash(update::kCalgSha256);
  platform::HashComputation fileHash(update::kCalgMd5);
  bool packFailed = false;
  delta::IndexWriter writer([&](std::string_view bytes) {
    packFailed = !pack.Write(bytes.data(), bytes.size()) || !packHash.Add(bytes);
    return !packFailed;
  });
  const auto buffer = std::make_unique<char[]>(kPieceSize);
  std::uint64_t total = 0;
  bool readFailed = false;
  for (;;) {
    const std::int64_t got = file.Read(buffer.get(), kPieceSize);
    if (got == 0) break;
    const std::string_view piece(buffer.get(), static_cast<std::size_t>(got < 0 ? 0 : got));
    if (got < 0 || !fileHash.Add(piece)) {
      readFailed = true;
      break;
    }
    total += piece.size();
    if (!writer.Feed(piece)) break;
  }
  const std::optional<delta::WrittenIndex> index = readFailed || packFailed ? std::nullopt : writer.Finish();
  const bool flushed = index && pack.Flush();
  pack.Close();
  const auto fail = [&](std::string message) {
    platform::RemoveFile(stagedPack);
    error = std::move(message);
    return false;
  };
  if (readFailed) return fail("cannot read " + Shown(source) + " to its end");
  if (packFailed || !index || !flushed) return fail("cannot write " + Shown(stagedPack) + " (is the disk full?)");
  if (total != size || update::Md5HexOfDigest(fileHash.Finish(update::kMd5DigestLength)) != md5) {
    return fail(Shown(source) + " changed while it was published (its MD5 is no longer " + md5 + ")");
  }
  files.indexSize = index->bytes.size();
  files.indexSha256 = Sha256Hex(index->bytes);
  files.headSize = index->headLength;
  files.headSha256 = Sha256Hex(std::string_view(index->bytes).substr(0, static_cast<std::size_t>(index->headLength)));
  files.packSize = index->packLength;
  files.packSha256 = FinishSha256(packHash);
  if (files.packSha256.empty() || files.indexSha256.empty()) return fail("cannot compute SHA-256 digests");
  std::string stageError;
  if (!StageFile(indexPath, index->bytes, stageError)) return fail(stageError);
  if (!platform::MoveFileReplacing(stagedPack, packPath)) {
    DiscardStaged(indexPath);
    return fail("cannot put " + Shown(stagedPack) + " in the place of " + Shown(packPath));
  }
  if (!ReplaceWithStaged(indexPath, error)) return false;
  return true;
}

DeltaMember DeltaMemberOf(const DeltaFiles& files, const std::string& indexUrl, const std::string& packUrl) {
  return {indexUrl,       files.indexSize,  files.indexSha256, files.headSize,
          files.headSha256, packUrl,        files.packSize,    files.packSha256};
}

}  // namespace velmora::release
