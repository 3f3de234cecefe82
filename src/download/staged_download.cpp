#include "download/staged_download.h"

#include <memory>

#include "download/delta_fill.h"
#include "download/mirror_route.h"
#include "download/progress.h"
#include "download/run_folders.h"
#include "download/scheduler.h"
#include "platform/file.h"
#include "platform/hash.h"
#include "platform/http_client.h"
#include "text/encoding.h"
#include "update/fingerprint.h"
#include "update/manifest.h"
#include "update/staging_files.h"

namespace velmora::download {
namespace {

const char* FailureText(DownloadResult result) {
  switch (result) {
    case DownloadResult::ReadFailed: return kStatusReadFailed;
    case DownloadResult::InternetOpenFailed: return kStatusNoInternet;
    case DownloadResult::UrlOpenFailed: return kStatusBadAddress;
    case DownloadResult::EmptyContent: return kStatusEmpty;
    case DownloadResult::LocalFileFailed:
    case DownloadResult::Ok: break;
  }
  return kStatusLocalFile;
}

// What the digests say of the bytes given to them: whether they can be the entry's file.
struct DigestVerdict {
  bool md5Accepts = false;     // the MD5 was computed, and the listed one names it or cannot be checked
  bool sha256Matches = false;  // the listed SHA-256 names it, or none is listed
  bool Accepts() const { return md5Accepts && sha256Matches; }
};

// The digests a staged file is checked with as its bytes arrive: always MD5, SHA-256 when the
// manifest entry gives one. The entry's listed digests answer whether the bytes are its file.
struct Digests {
  explicit Digests(const state::UpdateEntry& entry) : listed(entry), withSha256(entry.sha256.Checkable()) { Restart(); }
  void Restart() {
    md5 = std::make_unique<platform::HashComputation>(update::kCalgMd5);
    sha256 = withSha256 ? std::make_unique<platform::HashComputation>(update::kCalgSha256) : nullptr;
  }
  // The verdict on every byte given; finishes both digests.
  DigestVerdict Finish() {
    return {listed.md5.AcceptsBytes(md5->Finish(update::kMd5DigestLength)),
            !withSha256 || listed.sha256.NamesBytes(sha256->Finish(update::kSha256DigestLength))};
  }
  // The verdict on the bytes given so far; the digests go on.
  DigestVerdict SoFar() const {
    return {listed.md5.AcceptsBytes(md5->DigestSoFar(update::kMd5DigestLength)),
            !withSha256 || listed.sha256.NamesBytes(sha256->DigestSoFar(update::kSha256DigestLength))};
  }
  const state::UpdateEntry& listed;  // the entry whose digests the bytes must have
  bool withSha256;
  std::unique_ptr<platform::HashComputation> md5;
  std::unique_ptr<platform::HashComputation> sha256;
};

// Keeps the staged file for the commit when the digests accept it as the entry's file; removes it
// otherwise.
const char* Verify(const std::string& staging, const DigestVerdict& verdict) {
  if (verdict.Accepts()) return nullptr;
  platform::RemoveFile(staging);
  return kStatusDigestMismatch;
}

// Whether anything about the finished file can be checked: an MD5 digest, a SHA-256 or a size.
bool IsCheckable(const state::UpdateEntry& entry) {
  return entry.md5.Checkable() || entry.sha256.Checkable() || entry.size >= 0;
}

// Staged bytes that are already the entry's whole file: every check the entry lists passes, and
// at least one check exists (bytes that nothing checks may be any part of any file).
bool IsWholeFile(const state::UpdateEntry& entry, const DigestVerdict& verdict, std::int64_t length) {
  return IsCheckable(entry) && verdict.Accepts() && (entry.size < 0 || length == entry.size);
}

// The bytes an earlier run left in `staging`, added to the digests: their count, 0 when there are
// none or they cannot be read whole (the file is removed then, and the digests started afresh).
// An entry that nothing checks never continues an earlier run's bytes: the server's file may have
// changed since, and the joined file could not be told from the right one.
std::int64_t TakeOverStagingFile(const std::string& staging, const state::UpdateEntry& entry, Digests& digests) {
  if (entry.noStagingFile) return 0;  // the update check found none
  if (!IsCheckable(entry)) {
    platform::RemoveFile(staging);
    return 0;
  }
  platform::InputFile file;
  if (!file.Open(staging)) return 0;
  std::int64_t length = update::AddFileToHash(file, *digests.md5);
  if (length > 0 && digests.sha256) {
    file.Close();
    if (!file.Open(staging) || update::AddFileToHash(file, *digests.sha256) != length) length = -1;
  }
  file.Close();
  if (length <= 0) {
    platform::RemoveFile(staging);
    digests.Restart();
    return 0;
  }
  return length;
}

// The whole staged file's digests, read from the disk in one pass (a file filled from chunks); its
// length, -1 when it cannot be read.
std::int64_t HashStagedFile(const std::string& staging, Digests& digests) {
  digests.Restart();
  platform::InputFile file;
  if (!file.Open(staging)) return -1;
  std::string buffer(1 << 20, '\0');
  std::int64_t length = 0;
  for (;;) {
    const std::int64_t got = file.Read(buffer.data(), buffer.size());
    if (got < 0) return -1;
    if (got == 0) return length;
    const std::string_view piece(buffer.data(), static_cast<std::size_t>(got));
    digests.md5->Add(piece);
    if (digests.sha256) digests.sha256->Add(piece);
    length += got;
  }
}

// Fills the staging file from chunks when the entry has a delta member: true when it then holds
// the entry's file, checked; false when the file is to be downloaded whole (the staging file is
// gone then, and the digests restarted). `stopped` is set when the task was asked to stop.
bool StagedFromChunks(std::int32_t row, const state::UpdateEntry& entry, DownloadTask& task,
                      const std::string& staging, Digests& digests, bool& stopped) {
  const DeltaFillResult filled = FillFromChunks(row, entry, task, staging, state::State().localChunks.get());
  if (filled == DeltaFillResult::Stopped) {
    stopped = true;
    return false;
  }
  if (filled == DeltaFillResult::Filled) {
    const std::int64_t length = HashStagedFile(staging, digests);
    if (length >= 0 && IsWholeFile(entry, digests.Finish(), length)) return true;
  }
  // Anything else: the file comes whole, from the first byte.
  platform::RemoveFile(staging);
  digests.Restart();
  return false;
}

// When the streamed request does not open, the whole resource once more through the plain client;
// its bytes are staged and checked the same way. Nullptr: staged.
const char* FetchWhole(const state::UpdateEntry& entry, const std::string& url, const std::string& staging) {
  const platform::HttpResponse response = platform::CurrentHttpClient().Get(url, kFallbackWaitMs);
  if (!response.Succeeded() || response.body.empty()) return kStatusBadAddress;
  if (entry.size >= 0 && static_cast<std::int64_t>(response.body.size()) != entry.size) return kStatusDigestMismatch;
  platform::OutputFile file;
  if (!file.Open(staging, platform::OutputFile::Mode::CreateOrTruncate, true)) return kStatusBadAddress;
  const bool written = file.Write(response.body.data(), response.body.size()) && file.Flush();
  file.Close();
  if (!written) {
    platform::RemoveFile(staging);
    return kStatusLocalFile;
  }
  Digests digests(entry);
  digests.md5->Add(response.body);
  if (digests.sha256) digests.sha256->Add(response.body);
  return Verify(staging, digests.Finish());
}

// An empty file needs no server (an answer without a length is refused as empty content): it is
// staged and checked like any other.
const char* StageEmptyFile(const std::string& staging, const state::UpdateEntry& entry) {
  platform::OutputFile file;
  if (!file.Open(staging, platform::OutputFile::Mode::CreateOrTruncate, true)) return kStatusLocalFile;
  const bool flushed = file.Flush();
  file.Close();
  if (!flushed) {
    platform::RemoveFile(staging);
    return kStatusLocalFile;
  }
  Digests digests(entry);
  return Verify(staging, digests.Finish());
}

// The staging folders made (or found) in this run: each is made once per run, not once per file.
// Making a folder that exists is a call to the wineserver under Wine, two per file otherwise.
RunFolders madeFolders;

// Makes the folders of `staging` unless this run has made them already.
void MakeStagingFoldersOnce(const std::string& staging) {
  const std::string folder = FolderPartOf(staging);
  if (madeFolders.Contains(folder)) return;
  update::MakeStagingFolders(staging);
  madeFolders.Add(folder);
}

// The staging file could not be opened: its folders are made again (something removed them since
// this run made them). True when they were remembered as made, so that another try may succeed.
bool RemakeStagingFolders(const std::string& staging) {
  if (!madeFolders.Remove(FolderPartOf(staging))) return false;
  update::MakeStagingFolders(staging);
  return true;
}

}  // namespace

void ForgetMadeStagingFolders() { madeFolders.Clear(); }

const char* DownloadAndStage(std::int32_t row, const state::UpdateEntry& entry, DownloadTask& task,
                             const std::string& target) {
  const std::string staging = update::StagingPathOf(target, entry);
  MakeStagingFoldersOnce(staging);
  if (entry.md5.Names(update::kEmptyDataMd5) && entry.size <= 0) {
    return StageEmptyFile(staging, entry);
  }
  Digests digests(entry);
  std::int64_t offset = TakeOverStagingFile(staging, entry, digests);
  if (offset > 0 && (offset == entry.size || entry.size < 0) && IsWholeFile(entry, digests.SoFar(), offset)) {
    // An earlier run staged the whole file and ended before the release went in: no request.
    return nullptr;
  }
  if (entry.delta.Present()) {
    bool stopped = false;
    if (StagedFromChunks(row, entry, task, staging, digests, stopped)) return nullptr;
    if (stopped) return kStatusReadFailed;  // the window is closing: what was placed stays
    offset = 0;
  }
  if (offset > 0 && offset >= entry.size && entry.size >= 0) {
    // As long as the file or longer, yet not the file: nothing of it can be used.
    platform::RemoveFile(staging);
    digests.Restart();
    offset = 0;
  }
  bool resumedAny = offset > 0;  // the file is put together from more than one transfer
  bool retryLeft = true;         // one dropped transfer is resumed within the run
  bool wholeAgainLeft = true;    // one resumed file that does not match is fetched whole again

  // The mirrors: a request that a mirror fails goes on at the next one, from the bytes staged.
  MirrorRoute route = MirrorRoute::OfRun(entry.url, "row " + std::to_string(row) + " " + text::NarrowToUtf8(entry.path));
  task.SetExclusiveFile(true);
  task.SetExpectedLength(entry.size);
  for (;;) {
    task.SetDigests(digests.md5.get(), digests.sha256.get());
    route.NoteRequest("from byte " + std::to_string(offset));
    const DownloadResult result = task.Download(route.Url(), staging, ReportProgress, offset, offset > 0, row);
    task.SetDigests(nullptr);
    if (task.StopRequested()) return kStatusReadFailed;  // the window is closing: the staging file stays

    switch (result) {
      case DownloadResult::Ok: {
        const DigestVerdict verdict = digests.Finish();
        // A file that is not the entry's is let go of before it is removed; the entry's stays
        // open for its flush (DownloadTask::SetFlushLater).
        if (!verdict.Accepts()) task.CloseFile();
        if (!verdict.Accepts() && route.Leave("wrong digest")) {
          // Which mirror sent the wrong bytes is not known: the next one sends the whole file.
          resumedAny = false;
          platform::RemoveFile(staging);
          digests.Restart();
          offset = 0;
          continue;
        }
        if (!verdict.Accepts() && resumedAny && wholeAgainLeft) {
          wholeAgainLeft = false;
          resumedAny = false;
          platform::RemoveFile(staging);
          digests.Restart();
          offset = 0;
          continue;
        }
        return Verify(staging, verdict);
      }
      case DownloadResult::UrlOpenFailed:
        if (task.LengthRefused() && route.Leave("wrong length")) continue;  // nothing was written
        if (IsMirrorFault(task.LastHttpStatus()) && route.Leave(FaultText(task.LastHttpStatus(), task.LastErrorCode()))) {
          continue;  // the next mirror resumes from the same byte
        }
        if (task.LengthRefused()) {
          // The server's file is not as long as the listed one: not the file, whatever arrived.
          platform::RemoveFile(staging);
          return kStatusDigestMismatch;
        }
        if (offset > 0) {
          // Not resumed as asked. The staging file may already be the whole file (a run that
          // ended before putting it in place): then the server has nothing more to send.
          const DigestVerdict verdict = digests.Finish();
          if (IsWholeFile(entry, verdict, offset)) return nullptr;
          digests.Restart();
          offset = 0;
          continue;
        }
        return FetchWhole(entry, route.Url(), staging);
      case DownloadResult::ReadFailed:
        if (route.Leave("the body broke off at byte " + std::to_string(task.Position()))) {
          offset = task.Position();
          resumedAny = resumedAny || offset > 0;
          continue;
        }
        if (retryLeft) {
          retryLeft = false;
          offset = task.Position();
          resumedAny = resumedAny || offset > 0;
          continue;
        }
        // What arrived stays for the next run to resume.
        if (task.OpenedLocalFile() && task.Position() == 0) platform::RemoveFile(staging);
        return kStatusReadFailed;
      case DownloadResult::LocalFileFailed:
        if (!task.OpenedLocalFile() && RemakeStagingFolders(staging)) continue;
        // A staging file that another row of the same file holds open is that row's, not ours.
        if (task.OpenedLocalFile()) platform::RemoveFile(staging);
        return kStatusLocalFile;
      case DownloadResult::InternetOpenFailed:
      case DownloadResult::EmptyContent:
        return FailureText(result);
    }
    return FailureText(result);
  }
}

}  // namespace velmora::download
