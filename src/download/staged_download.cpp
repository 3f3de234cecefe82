#include "download/staged_download.h"

#include <memory>

#include "download/progress.h"
#include "download/scheduler.h"
#include "download/staged_install.h"
#include "platform/file.h"
#include "platform/hash.h"
#include "platform/http_client.h"
#include "update/fingerprint.h"
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

const char* InstallText(InstallResult result) {
  switch (result) {
    case InstallResult::Installed: return nullptr;
    case InstallResult::DigestMismatch: return kStatusDigestMismatch;
    case InstallResult::ReplaceFailed: break;
  }
  return kStatusLocalFile;
}

std::unique_ptr<platform::HashComputation> NewMd5() {
  return std::make_unique<platform::HashComputation>(update::kCalgMd5);
}

std::string HexOf(platform::HashComputation& md5) { return update::Md5HexOfDigest(md5.Finish(update::kMd5DigestLength)); }

// The bytes an earlier run left in `staging`, added to `md5`: their count, 0 when there are none
// or they cannot be read whole (the file is removed then, and `md5` started afresh).
std::int64_t TakeOverStagingFile(const std::string& staging, std::unique_ptr<platform::HashComputation>& md5) {
  platform::InputFile file;
  if (!file.Open(staging)) return 0;
  const std::int64_t length = update::AddFileToHash(file, *md5);
  file.Close();
  if (length <= 0) {
    platform::RemoveFile(staging);
    md5 = NewMd5();
    return 0;
  }
  return length;
}

// When the streamed request does not open, the whole resource once more through the plain client;
// its bytes take the same way into place. Nullptr: installed.
const char* FetchWhole(const state::UpdateEntry& entry, const std::string& staging, const std::string& target) {
  const platform::HttpResponse response = platform::CurrentHttpClient().Get(entry.url, kFallbackWaitMs);
  if (!response.Succeeded() || response.body.empty()) return kStatusBadAddress;
  platform::OutputFile file;
  if (!file.Open(staging, platform::OutputFile::Mode::CreateOrTruncate, true)) return kStatusBadAddress;
  const bool written = file.Write(response.body.data(), response.body.size()) && file.Flush();
  file.Close();
  if (!written) {
    platform::RemoveFile(staging);
    return kStatusLocalFile;
  }
  return InstallText(InstallStaged(staging, target, update::Md5Hex(response.body), entry.md5));
}

}  // namespace

const char* DownloadAndInstall(std::int32_t row, const state::UpdateEntry& entry, DownloadTask& task,
                               const std::string& target) {
  const std::string staging = update::StagingPathOf(target, entry.md5, entry.url);
  std::unique_ptr<platform::HashComputation> md5 = NewMd5();
  std::int64_t offset = TakeOverStagingFile(staging, md5);
  bool resumedAny = offset > 0;  // the file is put together from more than one transfer
  bool retryLeft = true;         // one dropped transfer is resumed within the run
  bool wholeAgainLeft = true;    // one resumed file that does not match is fetched whole again

  task.SetExclusiveFile(true);
  for (;;) {
    task.SetDigest(md5.get());
    const DownloadResult result = task.Download(entry.url, staging, ReportProgress, offset, offset > 0, row);
    task.SetDigest(nullptr);
    if (task.StopRequested()) return kStatusReadFailed;  // the window is closing: the staging file stays

    switch (result) {
      case DownloadResult::Ok: {
        const std::string digest = HexOf(*md5);
        if (digest != entry.md5 && resumedAny && wholeAgainLeft) {
          wholeAgainLeft = false;
          resumedAny = false;
          platform::RemoveFile(staging);
          md5 = NewMd5();
          offset = 0;
          continue;
        }
        return InstallText(InstallStaged(staging, target, digest, entry.md5));
      }
      case DownloadResult::UrlOpenFailed:
        if (offset > 0) {
          // Not resumed as asked. The staging file may already be the whole file (a run that
          // ended before putting it in place): then the server has nothing more to send.
          const std::string digest = HexOf(*md5);
          if (digest == entry.md5) return InstallText(InstallStaged(staging, target, digest, entry.md5));
          md5 = NewMd5();
          offset = 0;
          continue;
        }
        return FetchWhole(entry, staging, target);
      case DownloadResult::ReadFailed:
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
