#include "update/root_of_trust.h"

#include <atomic>

#include "platform/file.h"
#include "platform/http_client.h"
#include "update/durable_file.h"
#include "update/manifest.h"
#include "update/manifest_freshness.h"
#include "update/manifest_signature.h"
#include "update/root_chain.h"
#include "update/run_log.h"
#include "update/signature_set.h"

namespace velmora::update {
namespace {

constexpr std::int32_t kNotFound = 404;
constexpr std::int32_t kGone = 410;

std::atomic<const std::string*> replacedRecordText{nullptr};

FetchedRoot FetchRoot(std::int64_t version) {
  FetchedRoot fetched;
  const std::string url = RootRecordUrl(version);
  const platform::HttpResponse record = platform::CurrentHttpClient().Get(url, kManifestTimeoutMs);
  if (record.status == kNotFound || record.status == kGone) return fetched;
  const platform::HttpResponse signatures =
      record.Succeeded() ? platform::CurrentHttpClient().Get(url + kSignatureSuffix, kManifestTimeoutMs)
                         : platform::HttpResponse{};
  if (!record.Succeeded() || !signatures.Succeeded()) {
    fetched.failed = true;
    const platform::HttpResponse& failed = record.Succeeded() ? signatures : record;
    fetched.why = (record.Succeeded() ? "its signatures: " : "") +
                  (failed.Received() ? "HTTP " + std::to_string(failed.status) : std::string("no answer"));
    return fetched;
  }
  if (record.body.size() > kRootRecordSizeLimit || signatures.body.size() > kSignatureFileSizeLimit) {
    fetched.failed = true;
    fetched.why = "above " + std::to_string(kRootRecordSizeLimit) + " bytes";
    return fetched;
  }
  fetched.found = true;
  fetched.record = record.body;
  fetched.signatures = signatures.body;
  return fetched;
}

}  // namespace

std::optional<RootRecord> BuiltInRoot() {
  const std::string* replaced = replacedRecordText.load();
  const std::string_view text = replaced != nullptr ? std::string_view(*replaced) : ConfiguredRootRecordText();
  if (!text.empty()) {
    std::optional<RootRecord> record = ParseRootRecord(text);
    if (record) return record;
    RootRecord nothingSatisfies;
    nothingSatisfies.rotates = false;
    nothingSatisfies.release.threshold = 1;
    return nothingSatisfies;
  }
  if (const std::optional<std::string> key = RequiredManifestKey()) return SingleKeyRoot(*key);
  return std::nullopt;
}

std::optional<RootRecord> NewestTrustedRoot(const RootRecord& builtIn, const std::string& runDirectory,
                                            std::string& why) {
  RootRecord start = builtIn;
  const std::string storedPath = runDirectory + kStoredRootFileName;
  if (builtIn.rotates) {
    // The stored root was verified when it was taken; one that does not parse is walked again.
    const std::optional<std::string> stored = ReadSmallFile(storedPath, kRootRecordSizeLimit);
    std::optional<RootRecord> storedRoot = stored ? ParseRootRecord(*stored) : std::nullopt;
    if (storedRoot && storedRoot->version > builtIn.version) start = std::move(*storedRoot);
  }
  const auto take = [&](const RootRecord& previous, const RootRecord& next, const std::string& record) {
    AppendToRunLog(runDirectory, "root " + std::to_string(next.version) + " taken");
    if (ReleaseKeysDiffer(previous, next)) {
      AppendToRunLog(runDirectory, "root " + std::to_string(next.version) +
                                       " changes the manifest keys: every accepted serial is forgotten");
      // Before the root is stored: a run cut short here forgets them again when it takes the root.
      if (!ForgetAcceptedSerials(runDirectory)) return false;
    }
    platform::CreateDirectoryAt(runDirectory + "\\Bin");
    platform::CreateDirectoryAt(runDirectory + "\\Bin\\Config");
    return WriteFileDurably(storedPath, record);
  };
  RootWalk walk = WalkRootChain(start, FetchRoot, take, UtcSecondsNow());
  why = walk.why;
  return walk.newest;
}

void ReplaceConfiguredRootRecord(const std::string* text) { replacedRecordText.store(text); }

}  // namespace velmora::update
