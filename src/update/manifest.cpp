#include "update/manifest.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "state/program_state.h"
#include "json/json_document.h"
#include "notify/task_notice.h"
#include "platform/file.h"
#include "platform/http_client.h"
#include "platform/thread.h"
#include "text/encoding.h"
#include "update/file_fingerprints.h"
#include "update/fingerprint.h"
#include "update/health_check.h"
#include "update/manifest_freshness.h"
#include "update/manifest_signature.h"
#include "update/mirrors.h"
#include "update/path_safety.h"
#include "update/program_end.h"
#include "update/rolled_back_release.h"
#include "update/root_of_trust.h"
#include "update/signature_set.h"
#include "update/staging_files.h"
#include "update/channel.h"
#include "update/code_signing.h"
#include "update/rollout.h"
#include "update/run_directory.h"
#include "update/run_log.h"
#include "update/run_outcome.h"

namespace velmora::update {
namespace {

constexpr std::int32_t kProxyAuthenticationRequired = 407;

const std::string& NoticeCaption() {
  static const std::string text = text::Utf8ToNarrow("获取Update文件列表失败");
  return text;
}

const std::string& NoTextContent() {
  static const std::string text = text::Utf8ToNarrow("错误代码：UpData数据为空");
  return text;
}

const std::string& BadTextContent() {
  static const std::string text = text::Utf8ToNarrow("错误代码：UpData数据错误");
  return text;
}

const std::string& BadSignatureContent() {
  static const std::string text = text::Utf8ToNarrow("错误代码：UpData签名错误");
  return text;
}

const std::string& RolledBackContent() {
  static const std::string text = text::Utf8ToNarrow("错误代码：UpData版本过旧");
  return text;
}

const std::string& ExpiredContent() {
  static const std::string text = text::Utf8ToNarrow("错误代码：UpData已过期");
  return text;
}

const std::string& KeysRefusedContent() {
  static const std::string text = text::Utf8ToNarrow("错误代码：UpData密钥错误");
  return text;
}

// Shows the refusal's notice (none in a quiet run), logs why and ends the run with `outcome`.
[[noreturn]] void RefuseManifest(const std::string& content, RunOutcome outcome, const std::string& why) {
  AppendToRunLog(RunDirectory(), "manifest refused: " + std::string(DescriptionOf(outcome)) + " (" + why + ")");
  notify::ShowNotice(notify::kFailureNoticeKind, NoticeCaption(), content);
  EndProgram(outcome);
}

// Bytes up to the first zero byte.
std::string TextOf(const std::string& bytes) { return bytes.substr(0, bytes.find('\0')); }

// Why an answer holds no manifest, for the log: an answer with an error status is no manifest
// (the body of a 404 or 500 page must never be read as one: a JSON error page would pass for
// "nothing to update").
std::string WhyNoManifest(const platform::HttpResponse& response) {
  if (!response.Received()) return "no answer";
  if (response.status == kProxyAuthenticationRequired) return "HTTP 407: the proxy asked for credentials";
  if (!response.Succeeded()) return "HTTP " + std::to_string(response.status);
  return "HTTP " + std::to_string(response.status) + ", empty";
}

// The manifest's detached signatures, fetched from beside it, include valid signatures of exactly
// `bytes` by the threshold of `root`'s release keys. A missing, empty or unreadable signature file
// is no signature.
bool IsSignedManifest(const RootRecord& root, const std::string& bytes) {
  const platform::HttpResponse signature =
      platform::CurrentHttpClient().Get(ManifestUrl() + kSignatureSuffix, kManifestTimeoutMs);
  return signature.Succeeded() && MeetsThreshold(root.release, root.keys, bytes, signature.body);
}

// The manifest server's manifest; a run without one ends here.
std::string FetchManifestBytes() {
  const platform::HttpResponse response = platform::CurrentHttpClient().Get(ManifestUrl(), kManifestTimeoutMs);
  std::string bytes = response.Succeeded() ? response.body : std::string();
  if (TextOf(bytes).empty()) RefuseManifest(NoTextContent(), RunOutcome::ManifestUnreachable, WhyNoManifest(response));
  return bytes;
}

void WaitBeforeFetchingAgain(std::uint32_t milliseconds) { platform::WaitProcessingMessages(milliseconds); }
std::atomic<void (*)(std::uint32_t)> pauseBeforeFetchingAgain{&WaitBeforeFetchingAgain};

// The manifest server's manifest with, when `root` is given, signatures by the threshold of its
// release keys beside it. A manifest and its signature are two files: a client that asks while a
// publish renames them, or through a cache that kept one longer than the other, can get a pair
// that does not match. Both are fetched once more after kMismatchPauseMs before the manifest is
// refused for it.
std::string FetchSignedManifest(const std::optional<RootRecord>& root, const std::string& runDirectory) {
  const std::string bytes = FetchManifestBytes();
  if (!root || IsSignedManifest(*root, bytes)) return bytes;
  AppendToRunLog(runDirectory, "manifest and signature did not match; fetching both again in " +
                                   std::to_string(kMismatchPauseMs / 1000) + " s");
  pauseBeforeFetchingAgain.load()(kMismatchPauseMs);
  const std::string again = FetchManifestBytes();
  if (!IsSignedManifest(*root, again)) {
    RefuseManifest(BadSignatureContent(), RunOutcome::ManifestBadSignature, "no valid signature beside it");
  }
  return again;
}

// The hand-off file's GBK text; empty when it is missing or unreadable.
std::string ReadHandOffText(const std::string& path) {
  platform::InputFile file;
  if (!file.Open(path)) return {};
  std::string bytes;
  constexpr std::size_t kPieceSize = 64 * 1024;
  const auto piece = std::make_unique<char[]>(kPieceSize);
  for (;;) {
    const std::int64_t got = file.Read(piece.get(), kPieceSize);
    if (got < 0) return {};
    if (got == 0) break;
    bytes.append(piece.get(), static_cast<std::size_t>(got));
  }
  return TextOf(bytes);
}

struct Manifest {
  std::string run;
  std::vector<state::UpdateEntry> entries;
  std::optional<std::int64_t> serial;   // the release's serial, when given
  std::optional<std::int64_t> expires;  // when the manifest stops being accepted, when given
  std::optional<std::int64_t> rollout;  // the percentage of installations offered the release
  std::optional<std::int64_t> rolloutSerial;  // the seed of the installations' places in the rollout
  std::optional<std::string> channel;   // the channel the manifest was published for, when given
  std::optional<std::int64_t> healthSeconds;  // how long a started product is watched (0 to 600)
  std::vector<std::string> mirrors;     // other bases of the files (update/mirrors.h); empty: none
  bool wellFormed = true;               // every optional member that is present has its form
  bool namesHeldInGbk = true;           // every path and the launch target have a GBK form
};

// Whether the text at `member` has a GBK form: its characters, as the manifest's UTF-8 or its
// escapes ("\uD55C") gave them, are the ones `gbk` holds. Hangul or an emoji would reach the disk
// as "?" (the updater keeps paths as GBK text).
bool HasGbkForm(const json::JsonDocument& document, const std::string& member, const std::string& gbk) {
  return document.GetTextWide(text::NarrowToWide(member, text::Utf8CodePage)) ==
         text::NarrowToWide(gbk, text::NarrowCodePage);
}

// The entry's `delta` member (at `member`): where its chunk index and pack lie. Used only when
// every field is there in its form; anything else leaves `delta` empty, so the file is fetched
// whole as by an updater that does not know the member. Never a reason to refuse the manifest.
// The addresses are taken as `url` is.
state::UpdateEntry::DeltaSource ReadDeltaSource(const json::JsonDocument& document, const std::string& member) {
  const state::UpdateEntry::DeltaSource none;
  if (document.GetType(member) != json::JsonKind::Object) return none;
  const auto text = [&](const char* name, std::string& out) {
    const std::string path = member + "." + name;
    if (document.GetType(path) != json::JsonKind::String) return false;
    out = document.GetText(path);
    return !out.empty();
  };
  const auto count = [&](const char* name, std::int64_t& out) {
    const std::string path = member + "." + name;
    if (document.GetType(path) != json::JsonKind::Integer) return false;
    const std::optional<std::int64_t> value = ParseSerial(document.GetLiteral(path));
    out = value.value_or(-1);
    return out > 0;
  };
  const auto digest = [&](const char* name, std::string& out) {
    std::string written;
    if (!text(name, written)) return false;
    const state::ListedSha256 listed(written);
    out = listed.Text();
    return listed.Checkable();
  };
  state::UpdateEntry::DeltaSource delta;
  const bool complete = text("index", delta.indexUrl) && count("indexSize", delta.indexSize) &&
                        digest("indexSha256", delta.indexSha256) && count("headSize", delta.headSize) &&
                        digest("headSha256", delta.headSha256) && text("pack", delta.packUrl) &&
                        count("packSize", delta.packSize) && digest("packSha256", delta.packSha256) &&
                        delta.headSize <= delta.indexSize;
  return complete ? delta : none;
}

// An optional member at `path`: missing (Raw) is fine and leaves `value` empty; one that is present
// must be a non-negative JSON integer, or the manifest is not well formed.
void ReadOptionalCount(const json::JsonDocument& document, const std::string& path,
                       std::optional<std::int64_t>& value, bool& wellFormed) {
  const json::JsonKind kind = document.GetType(path);
  if (kind == json::JsonKind::Raw) return;
  value = kind == json::JsonKind::Integer ? ParseSerial(document.GetLiteral(path)) : std::nullopt;
  wellFormed = wellFormed && value.has_value();
}

// The optional members: each may be missing, but one that is present must have its form.
void ReadOptionalMembers(const json::JsonDocument& document, Manifest& manifest) {
  ReadOptionalCount(document, "serial", manifest.serial, manifest.wellFormed);
  if (document.GetType("expires") != json::JsonKind::Raw) {
    manifest.expires = document.GetType("expires") == json::JsonKind::String
                           ? ParseUtcTime(document.GetText("expires"))
                           : std::nullopt;
    manifest.wellFormed = manifest.wellFormed && manifest.expires.has_value();
  }
  ReadOptionalCount(document, "rollout", manifest.rollout, manifest.wellFormed);
  manifest.wellFormed = manifest.wellFormed && manifest.rollout.value_or(0) <= 100;
  ReadOptionalCount(document, "rolloutSerial", manifest.rolloutSerial, manifest.wellFormed);
  ReadOptionalCount(document, "healthSeconds", manifest.healthSeconds, manifest.wellFormed);
  manifest.wellFormed = manifest.wellFormed && manifest.healthSeconds.value_or(0) <= kMostHealthSeconds;
  if (document.GetType("channel") != json::JsonKind::Raw) {
    if (document.GetType("channel") == json::JsonKind::String) manifest.channel = document.GetText("channel");
    manifest.wellFormed = manifest.wellFormed && manifest.channel.has_value();
  }
  std::optional<std::vector<std::string>> mirrors = ReadMirrors(document);
  manifest.wellFormed = manifest.wellFormed && mirrors.has_value();
  if (mirrors) manifest.mirrors = std::move(*mirrors);
  for (std::size_t i = 0; i < manifest.entries.size(); ++i) {
    state::UpdateEntry& entry = manifest.entries[i];
    const std::string element = "data[" + std::to_string(i) + "].";
    std::optional<std::int64_t> size;
    ReadOptionalCount(document, element + "size", size, manifest.wellFormed);
    entry.size = size.value_or(-1);
    const json::JsonKind sha256Kind = document.GetType(element + "sha256");
    if (sha256Kind != json::JsonKind::Raw) {
      entry.sha256 = document.GetText(element + "sha256");
      manifest.wellFormed = manifest.wellFormed && sha256Kind == json::JsonKind::String && entry.sha256.Checkable();
    }
    entry.delta = ReadDeltaSource(document, element + "delta");
  }
}

Manifest ReadManifest(const json::JsonDocument& document) {
  Manifest manifest;
  manifest.run = document.GetText("run");
  manifest.namesHeldInGbk = HasGbkForm(document, "run", manifest.run);
  const std::int32_t count = document.GetCount("data");
  manifest.entries.reserve(static_cast<std::size_t>(count > 0 ? count : 0));
  for (std::int32_t i = 0; i < count; ++i) {
    const std::string element = "data[" + std::to_string(i) + "].";
    state::UpdateEntry entry;
    entry.name = document.GetText(element + "name");
    // A digest in upper case names the same bytes; any other text is kept and never matches a file.
    entry.md5 = document.GetText(element + "md5");
    entry.url = document.GetText(element + "url");
    entry.path = document.GetText(element + "path");
    manifest.namesHeldInGbk = manifest.namesHeldInGbk && HasGbkForm(document, element + "path", entry.path);
    manifest.entries.push_back(std::move(entry));
  }
  ReadOptionalMembers(document, manifest);
  return manifest;
}

struct Staleness {
  const std::string* content = nullptr;  // the refusal's notice content; null: not refused
  RunOutcome outcome = RunOutcome::UpToDate;
  std::string why;
};

// A manifest from the server is refused when it is older than one accepted before or has expired;
// with a required key both members must be there.
Staleness StalenessOf(const Manifest& manifest, bool keyRequired, const std::string& runDirectory) {
  if (keyRequired && (!manifest.serial || !manifest.expires)) {
    return {&BadTextContent(), RunOutcome::ManifestMalformed, "a signed manifest needs serial and expires"};
  }
  if (manifest.expires && UtcSecondsNow() >= *manifest.expires) {
    return {&ExpiredContent(), RunOutcome::ManifestExpired, "expired " + UtcTimeText(*manifest.expires)};
  }
  const std::int64_t accepted = ReadAcceptedSerial(runDirectory);
  if (manifest.serial && *manifest.serial < accepted) {
    return {&RolledBackContent(), RunOutcome::ManifestTooOld,
            "serial " + std::to_string(*manifest.serial) + " below " + std::to_string(accepted)};
  }
  return {};
}

// Whether this installation is among those the manifest's rollout reaches; logs the answer.
bool IsInThisRollout(const Manifest& manifest, const std::string& releaseIdentity, const std::string& runDirectory) {
  const std::string seed = manifest.rolloutSerial ? std::to_string(*manifest.rolloutSerial)
                           : manifest.serial      ? std::to_string(*manifest.serial)
                                                  : releaseIdentity;
  const std::uint32_t place = RolloutPlace(InstallationId(runDirectory), seed);
  const bool inside = IsInsideRollout(place, *manifest.rollout);
  AppendToRunLog(runDirectory, std::string(inside ? "inside" : "outside") + " the rollout: place " +
                                   std::to_string(place) + " of " + std::to_string(kRolloutPlaces) + ", rollout " +
                                   std::to_string(*manifest.rollout) + "%" +
                                   (inside ? "" : "; the release is not offered to this installation yet"));
  return inside;
}

// "manifest accepted: serial 7, expires 2027-01-01T00:00:00Z, signature valid, 12 entries"
std::string AcceptanceLine(const Manifest& manifest, bool signatureChecked) {
  return "manifest accepted: serial " + (manifest.serial ? std::to_string(*manifest.serial) : "none") +
         ", expires " + (manifest.expires ? UtcTimeText(*manifest.expires) : "never") + ", signature " +
         (signatureChecked ? "valid" : "not required") + ", " + std::to_string(manifest.entries.size()) + " entries" +
         (manifest.rollout ? ", rollout " + std::to_string(*manifest.rollout) + "%" : std::string());
}

// A manifest is applied whole or not at all: one path that leaves the run directory, or names the
// updater's own state, refuses it.
bool StaysInRunDirectory(const Manifest& manifest) {
  if (!IsSafeLaunchTarget(manifest.run)) return false;
  for (const state::UpdateEntry& entry : manifest.entries) {
    if (!IsSafeInstallPath(entry.path) || IsUpdaterStatePath(entry.path)) return false;
  }
  return true;
}

// Whether one of the manifest's entries is the file its `run` names.
bool ListsLaunchTarget(const Manifest& manifest) {
  const std::u16string launched = PathKey("\\" + manifest.run);
  return std::any_of(manifest.entries.begin(), manifest.entries.end(),
                     [&launched](const state::UpdateEntry& entry) { return PathKey(entry.path) == launched; });
}

// An interrupted run's staging files are kept for the entries that are still to be downloaded, so
// that their downloads resume; those of entries that changed, are up to date or are no longer
// listed are of no use any more.
// Each listed entry learns whether it has a staging file to resume.
void KeepOnlyResumableStagingFiles(const std::string& runDirectory, std::vector<state::UpdateEntry>& listed) {
  std::vector<std::string> resumable;
  resumable.reserve(listed.size());
  for (const state::UpdateEntry& entry : listed) {
    resumable.push_back(StagingPathOf(runDirectory + entry.path, entry));
  }
  std::vector<bool> found;
  RemoveStagingFilesExcept(runDirectory, resumable, &found);
  for (std::size_t i = 0; i < listed.size(); ++i) listed[i].noStagingFile = !found[i];
}

// The chunks the check cut, as one catalogue for the rows filled from chunks; null when none were.
std::shared_ptr<const delta::LocalChunkSources> CatalogueOf(std::vector<FileFingerprint>& fingerprints,
                                                            const std::vector<std::string>& paths) {
  auto sources = std::make_shared<delta::LocalChunkSources>();
  for (FileFingerprint& fingerprint : fingerprints) {
    if (fingerprint.chunks) sources->catalogue.Add(std::move(*fingerprint.chunks));
    fingerprint.chunks.reset();
  }
  if (sources->catalogue.ChunkCount() == 0) return nullptr;
  sources->catalogue.Seal();
  sources->paths = paths;
  return sources;
}

}  // namespace

std::string HandOffFile() { return RunDirectory() + kHandOffFileName; }

void ReplaceMismatchPause(void (*pause)(std::uint32_t milliseconds)) {
  pauseBeforeFetchingAgain.store(pause != nullptr ? pause : &WaitBeforeFetchingAgain);
}

void ConsumeHandOffFile() { platform::RemoveFile(HandOffFile()); }

std::int32_t LoadManifest() {
  state::ProgramState& state = state::State();
  const std::string runDirectory = RunDirectory();
  const std::string handOffFile = runDirectory + kHandOffFileName;

  // The root whose release keys must sign the manifest: the build's, or the newest one published
  // after it; none when the build requires no signature.
  std::optional<RootRecord> root = BuiltInRoot();
  const bool signatureRequired = root.has_value();
  // The manifest's text as UTF-16: a server's UTF-8 is converted straight to it, so that a
  // character without a GBK form is still there to be found rather than already "?".
  std::u16string text;
  if (state.fetchFromServer) {
    if (root) {
      std::string why;
      root = NewestTrustedRoot(*root, runDirectory, why);
      if (!root) RefuseManifest(KeysRefusedContent(), RunOutcome::KeysRefused, why);
    }
    AppendToRunLog(runDirectory, "manifest: " + text::NarrowToUtf8(ManifestUrl()));
    text = text::NarrowToWide(TextOf(FetchSignedManifest(root, runDirectory)), text::Utf8CodePage);
  } else {
    AppendToRunLog(runDirectory, "manifest: the hand-off file " + text::NarrowToUtf8(handOffFile));
    const std::string handOffText = ReadHandOffText(handOffFile);
    if (handOffText.empty()) {
      RefuseManifest(NoTextContent(), RunOutcome::ManifestUnreachable, "missing, unreadable or empty");
    }
    text = text::NarrowToWide(handOffText, text::NarrowCodePage);
  }

  Manifest manifest;
  {
    json::JsonDocument document;
    // JSON libraries write any character as a "\uXXXX" escape (Python's json.dumps every non-ASCII
    // one), so well-formed escapes, surrogate pairs included, are decoded; a backslash that starts
    // no escape is kept, as hand-written manifests give bare paths ("\Bin\x.dll").
    if (!document.ParseWide(text, true)) RefuseManifest(BadTextContent(), RunOutcome::ManifestMalformed, "not JSON");
    manifest = ReadManifest(document);
  }
  if (!manifest.wellFormed) RefuseManifest(BadTextContent(), RunOutcome::ManifestMalformed, "a member out of form");
  if (!manifest.namesHeldInGbk) {
    RefuseManifest(BadTextContent(), RunOutcome::ManifestMalformed, "a path with a character that GBK cannot hold");
  }
  if (!StaysInRunDirectory(manifest)) {
    RefuseManifest(BadTextContent(), RunOutcome::ManifestMalformed, "a path that leaves the run directory");
  }
  if (const std::string problem = LaunchTargetProblem(manifest.run, ListsLaunchTarget(manifest), runDirectory);
      !problem.empty()) {
    RefuseManifest(BadTextContent(), RunOutcome::ManifestMalformed, problem);
  }
  // The product writes the hand-off file on this machine: its serial and expiry are not checked.
  if (state.fetchFromServer) {
    // A manifest that names its channel is taken on that channel only: one channel's signed
    // manifest served in another's place is refused.
    const std::string channel = state.channel.empty() ? std::string(kDefaultChannelName) : state.channel;
    if (manifest.channel && *manifest.channel != channel) {
      RefuseManifest(BadTextContent(), RunOutcome::ManifestMalformed,
                     "published for the channel " + text::NarrowToUtf8(*manifest.channel) + ", not " + channel);
    }
    if (const Staleness refusal = StalenessOf(manifest, signatureRequired, runDirectory); refusal.content != nullptr) {
      RefuseManifest(*refusal.content, refusal.outcome, refusal.why);
    }
    if (manifest.serial && *manifest.serial > ReadAcceptedSerial(runDirectory)) {
      StoreAcceptedSerial(runDirectory, *manifest.serial);
    }
  }
  AppendToRunLog(runDirectory, AcceptanceLine(manifest, state.fetchFromServer && signatureRequired));

  // The hand-off file is consumed by a manifest that was accepted; a missing file is no error. A
  // --check run only looks: the update it reports must still be there for the run that makes it.
  // A quiet run keeps a manifest that lists files until the release is in (ConsumeHandOffFile):
  // an update deferred for the running product goes in at the next quiet run.
  const bool keepHandOff = state.mode.checkOnly || state.mode.quiet;
  if (!keepHandOff) platform::RemoveFile(handOffFile);

  state.updateList.clear();
  state.launchTarget = std::move(manifest.run);
  state.releaseIdentity = ReleaseIdentity(manifest.entries);
  state.healthSeconds = static_cast<std::int32_t>(manifest.healthSeconds.value_or(0));
  UseMirrors(std::move(manifest.mirrors), runDirectory);
  // The product writes the hand-off file for this very machine: a rollout in it means nothing.
  if (state.fetchFromServer && manifest.rollout && !IsInThisRollout(manifest, state.releaseIdentity, runDirectory)) {
    return 0;  // as if up to date; staging files of an earlier run wait for the rollout to arrive
  }
  if (IsRolledBackRelease(runDirectory, state.releaseIdentity)) {
    // The user went back from this very release: it is not offered again.
    AppendToRunLog(runDirectory, "the user rolled back from this release: it is not offered again");
    RemoveStagingFilesExcept(runDirectory, {});
    if (!state.mode.checkOnly) platform::RemoveFile(handOffFile);
    return 0;
  }
  // Every local file hashed on all cores; the results come in manifest order, so the list keeps it.
  std::vector<std::string> localFiles;
  localFiles.reserve(manifest.entries.size());
  for (const state::UpdateEntry& entry : manifest.entries) localFiles.push_back(runDirectory + entry.path);
  // The local files of entries with a delta member are cut into chunks in the same pass: their
  // chunks may serve any stale entry's new file (its old version, or a file moved within the release).
  FingerprintOptions options;
  const std::vector<state::UpdateEntry>& entries = manifest.entries;
  // A --check run downloads nothing, so it cuts nothing.
  if (!state.mode.checkOnly &&
      std::any_of(entries.begin(), entries.end(), [](const state::UpdateEntry& e) { return e.delta.Present(); })) {
    options.cutIntoChunks = [&entries](std::size_t i) { return entries[i].delta.Present(); };
  }
  std::vector<FileFingerprint> fingerprints = FingerprintFiles(localFiles, options);
  state.localChunks = CatalogueOf(fingerprints, localFiles);
  for (std::size_t i = 0; i < manifest.entries.size(); ++i) {
    // Digests were read in lower case; an md5 that is not a digest never matches, so its file is
    // listed on every run. A missing file is listed even when the manifest gives the digest of empty data: the release
    // has that (empty) file, the run directory does not.
    if (!manifest.entries[i].md5.Names(fingerprints[i].md5) || fingerprints[i].state == FileReadState::Missing) {
      manifest.entries[i].targetNotFound = fingerprints[i].notFound;
      if (fingerprints[i].state == FileReadState::Read) manifest.entries[i].localMd5 = fingerprints[i].md5;
      state.updateList.push_back(std::move(manifest.entries[i]));
    }
  }
  KeepOnlyResumableStagingFiles(runDirectory, state.updateList);
  std::vector<std::string> listed;
  listed.reserve(state.updateList.size());
  for (const state::UpdateEntry& entry : state.updateList) {
    listed.push_back("listed: " + text::NarrowToUtf8(entry.path) + ", " +
                     (entry.size >= 0 ? std::to_string(entry.size) + " bytes" : "size not given") +
                     (entry.targetNotFound ? ", new" : ""));
  }
  AppendLinesToRunLog(runDirectory, listed);
  if (keepHandOff && !state.mode.checkOnly && state.updateList.empty()) platform::RemoveFile(handOffFile);
  return static_cast<std::int32_t>(state.updateList.size());
}

}  // namespace velmora::update
