// velmora-release diff OLD NEW [--handoff]
//
// What the updater downloads when it finds OLD installed and NEW published: every file of NEW
// whose path OLD lacks or whose digest differs, matched by path as Windows matches them; a
// manifest's channel and staged rollout are shown after the total. When
// both are release folders, every such file of 64 KiB or more (which publish gives a chunk index
// and pack) is also estimated as a client fetches it by delta: its index is built as publish
// builds it, the OLD files that the client cuts (those at the paths of such files) make its
// catalogue of chunks, and delta::EstimateFetch plans the fetch as the client does. Exit status as
// diff's: 0 the same files, 1 they differ, 2 they could not be compared.
#include <algorithm>
#include <map>
#include <memory>
#include <optional>

#include "command_support.h"
#include "delta/fetch_plan.h"
#include "delta/index_writer.h"
#include "delta/local_catalogue.h"
#include "delta_files.h"
#include "manifest_reader.h"
#include "platform/directory_walk.h"
#include "platform/file.h"
#include "progress_line.h"
#include "release_commands.h"
#include "release_digests.h"
#include "release_files.h"
#include "release_text.h"
#include "rollout_description.h"

namespace velmora::release {
namespace {

struct SideFile {
  std::string shownPath;  // "\Bin\x.dll", UTF-8
  std::string md5;
  std::optional<std::uint64_t> size;
  std::string localPath;  // GBK, for a file of a release folder; empty for a manifest's entry
};

constexpr std::size_t kPieceSize = 1 << 20;

// Feeds the file at `path` (GBK) to `feed` in pieces of 1 MiB; false when it cannot be read to
// its end.
template <typename Feed>
bool FeedFile(const std::string& path, const std::unique_ptr<char[]>& buffer, Feed&& feed) {
  platform::InputFile file;
  if (!file.Open(path)) return false;
  for (;;) {
    const std::int64_t got = file.Read(buffer.get(), kPieceSize);
    if (got < 0) return false;
    if (got == 0) return true;
    feed(std::string_view(buffer.get(), static_cast<std::size_t>(got)));
  }
}

// A file to download and, when estimated, what fetching it by delta costs.
struct Download {
  const SideFile* file = nullptr;
  const SideFile* old = nullptr;  // the file at its path in OLD; null for a new one
  std::optional<delta::FetchEstimate> delta;
};

// Estimates the fetch by delta of every download of 64 KiB or more. Files that cannot be read
// are left to be fetched whole, with a note.
void EstimateDeltas(std::vector<Download>& downloads, ReleaseConsole& console, bool quiet) {
  std::vector<Download*> large;
  std::uint64_t bytes = 0;
  for (Download& download : downloads) {
    if (download.file->size && *download.file->size >= kDeltaMinimumSize) {
      large.push_back(&download);
      bytes += *download.file->size + (download.old && download.old->size ? *download.old->size : 0);
    }
  }
  if (large.empty()) return;
  const auto buffer = std::make_unique<char[]>(kPieceSize);
  ProgressLine progress(console, "estimating", large.size(), bytes, !quiet);
  std::uint64_t bytesDone = 0;
  // The client cuts its copies of the files it fetches by delta; any of their chunks serves.
  delta::LocalCatalogue catalogue;
  for (std::size_t i = 0; i < large.size(); ++i) {
    const SideFile* old = large[i]->old;
    if (old == nullptr) continue;
    delta::LocalFileChunks chunks(static_cast<std::uint32_t>(i), old->size.value_or(0));
    if (FeedFile(old->localPath, buffer, [&chunks](std::string_view piece) { chunks.Feed(piece); })) {
      chunks.Finish();
      catalogue.Add(std::move(chunks));
    } else {
      console.Err("velmora-release: note: " + old->shownPath + " of OLD cannot be read; its chunks are not counted\n");
    }
    bytesDone += old->size.value_or(0);
    progress.Show(0, bytesDone);
  }
  catalogue.Seal();
  for (std::size_t i = 0; i < large.size(); ++i) {
    const SideFile& file = *large[i]->file;
    // The index as publish writes it; the pack's bytes are only counted.
    delta::IndexWriter writer([](std::string_view) { return true; });
    std::optional<delta::WrittenIndex> index;
    if (FeedFile(file.localPath, buffer, [&writer](std::string_view piece) { writer.Feed(piece); })) {
      index = writer.Finish();
    }
    if (index) large[i]->delta = delta::EstimateFetch(index->bytes, index->headLength, catalogue);
    if (!large[i]->delta) {
      console.Err("velmora-release: note: " + file.shownPath + " of NEW cannot be read; counted as fetched whole\n");
    }
    bytesDone += *file.size;
    progress.Show(i + 1, bytesDone);
  }
}

// "; by delta 120.0 KiB (122880 bytes): index 9.4 KiB (9627 bytes), pack ..., 4 requests".
std::string DescribeDelta(const delta::FetchEstimate& estimate) {
  return "; by delta " + DescribeBytes(estimate.indexBytes + estimate.packBytes) + ": index " +
         DescribeBytes(estimate.indexBytes) + ", pack " + DescribeBytes(estimate.packBytes) + ", " +
         CountOf(estimate.requests, "request", "requests");
}

// One side of the comparison, from a folder (listed and hashed) or a manifest; `staging` gets a
// manifest's channel and rollout lines, prefixed with `label`.
bool ReadSide(const CommandLine& line, const std::string& operand, const std::string& label, ReleaseConsole& console,
              std::vector<SideFile>& files, bool& isFolder, std::string& staging, int& status) {
  std::string path;
  std::string error;
  if (!PathArgument(operand, path, error)) {
    status = UsageError(console, line.command, error);
    return false;
  }
  isFolder = platform::FolderExists(path);
  if (isFolder) {
    ReleaseFolder folder = ListReleaseFolder(path);
    // A folder that could not be published may still be compared: its problems are noted.
    for (const std::string& problem : folder.problems) console.Err("velmora-release: note: " + problem + "\n");
    HashedRelease release;
    if (!HashReleaseFolder(std::move(folder), line, console, false, release, status)) return false;
    for (std::size_t i = 0; i < release.folder.files.size(); ++i) {
      const ReleaseFile& file = release.folder.files[i];
      files.push_back({"\\" + Utf8Of(file.relativePath), release.md5[i], file.size, file.localPath});
    }
    return true;
  }
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) {
    status = UsageError(console, line.command, "no such folder or manifest: " + operand);
    return false;
  }
  const ManifestRecords records =
      ReadManifestText(bytes, line.flags.count("handoff") != 0 ? ManifestEncoding::Gbk : ManifestEncoding::Utf8);
  if (!records.parsed) {
    status = Failure(console, operand + ": " + records.error);
    return false;
  }
  for (const ManifestRecord& record : records.entries) {
    files.push_back({Utf8Of(record.path), Utf8Of(record.md5), record.size, {}});
  }
  const std::string lines = DescribeChannelAndRollout(records);
  for (std::size_t start = 0; start < lines.size();) {
    const std::size_t end = lines.find('\n', start) + 1;
    staging += label + " " + lines.substr(start, end - start);
    start = end;
  }
  return true;
}

}  // namespace

int RunDiffCommand(const CommandLine& line, ReleaseConsole& console) {
  int status = kExitSuccess;
  std::vector<SideFile> oldFiles;
  std::vector<SideFile> newFiles;
  bool oldIsFolder = false;
  bool newIsFolder = false;
  std::string staging;  // the manifests' channels and rollouts
  // As diff's: 1 says the releases differ, so a side that cannot be read is 2.
  if (!ReadSide(line, line.operands[0], "OLD", console, oldFiles, oldIsFolder, staging, status) ||
      !ReadSide(line, line.operands[1], "NEW", console, newFiles, newIsFolder, staging, status)) {
    return kExitUsage;
  }

  std::map<std::u16string, const SideFile*> oldByPath;
  for (const SideFile& file : oldFiles) oldByPath.emplace(SamePathKey(WideOfUtf8(file.shownPath)), &file);

  std::vector<Download> downloads;
  std::size_t unchanged = 0;
  for (const SideFile& file : newFiles) {
    const auto old = oldByPath.find(SamePathKey(WideOfUtf8(file.shownPath)));
    const SideFile* oldFile = old == oldByPath.end() ? nullptr : old->second;
    if (oldFile != nullptr) {
      oldByPath.erase(old);  // what is left at the end is only in OLD
      if (oldFile->md5 == file.md5) {
        ++unchanged;
        continue;
      }
    }
    downloads.push_back({&file, oldFile, std::nullopt});
  }
  // Chunks are named by SHA-256 digests; both sides' bytes are needed.
  const bool estimated = oldIsFolder && newIsFolder && Sha256Available();
  if (estimated) EstimateDeltas(downloads, console, line.flags.count("quiet") != 0);

  std::string report;
  std::size_t unknownSizes = 0;
  std::uint64_t total = 0;
  std::size_t byDelta = 0;
  std::uint64_t deltaWhole = 0;
  std::uint64_t deltaFetched = 0;
  for (const Download& download : downloads) {
    const SideFile& file = *download.file;
    if (file.size) {
      total += *file.size;
    } else {
      ++unknownSizes;
    }
    report += (download.old == nullptr ? "new      " : "changed  ") + file.shownPath + "  " +
              (file.size ? DescribeBytes(*file.size) : std::string("size unknown"));
    if (download.delta) {
      ++byDelta;
      deltaWhole += *file.size;
      deltaFetched += download.delta->indexBytes + download.delta->packBytes;
      report += DescribeDelta(*download.delta);
    }
    report += "\n";
  }
  std::vector<std::string> onlyInOld;
  for (const auto& [key, file] : oldByPath) onlyInOld.push_back(file->shownPath);
  std::sort(onlyInOld.begin(), onlyInOld.end());
  for (const std::string& path : onlyInOld) report += "only in OLD  " + path + "\n";
  report += CountOf(downloads.size(), "file", "files") + " to download, " + (unknownSizes > 0 ? "at least " : "") +
            DescribeBytes(total) +
            (unknownSizes > 0 ? " (" + std::to_string(unknownSizes) + " without a size in the manifest)" : "") + "; " +
            std::to_string(unchanged) + " unchanged; " + std::to_string(oldByPath.size()) +
            " only in OLD (the updater leaves them in place)\n";
  if (byDelta > 0) {
    report += "by delta: " + CountOf(byDelta, "file", "files") + " of " + DescribeBytes(deltaWhole) + " fetch " +
              DescribeBytes(deltaFetched) + "; the update fetches " + DescribeBytes(total - deltaWhole + deltaFetched) +
              " in all\n";
  } else if (!estimated) {
    bool large = false;
    for (const Download& download : downloads) large = large || download.file->size.value_or(0) >= kDeltaMinimumSize;
    if (large) report += "by delta: not estimated (OLD and NEW must both be release folders)\n";
  }
  console.Out(report + staging);
  return downloads.empty() && oldByPath.empty() ? kExitSuccess : kExitFailed;
}

}  // namespace velmora::release
