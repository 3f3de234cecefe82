#include "update/manifest.h"

#include <memory>
#include <utility>
#include <vector>

#include "state/program_state.h"
#include "json/json_document.h"
#include "notify/task_notice.h"
#include "platform/file.h"
#include "platform/http_client.h"
#include "text/encoding.h"
#include "update/file_fingerprints.h"
#include "update/path_safety.h"
#include "update/program_end.h"
#include "update/staging_files.h"
#include "update/run_directory.h"

namespace velmora::update {
namespace {

constexpr std::int32_t kFailureNoticeKind = 2;

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

[[noreturn]] void RefuseManifest(const std::string& content) {
  notify::ShowNotice(kFailureNoticeKind, NoticeCaption(), content);
  EndProgram();
}

// Bytes up to the first zero byte.
std::string TextOf(const std::string& bytes) { return bytes.substr(0, bytes.find('\0')); }

// The server's UTF-8 text as GBK. An answer with an error status is no manifest: the body of a 404
// or 500 page must never be read as one (a JSON error page would pass for "nothing to update").
std::string FetchManifestText() {
  const platform::HttpResponse response = platform::CurrentHttpClient().Get(ManifestUrl(), kManifestTimeoutMs);
  if (!response.Succeeded()) return {};
  return text::Utf8ToNarrow(TextOf(response.body));
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
};

Manifest ReadManifest(const json::JsonDocument& document) {
  Manifest manifest;
  manifest.run = document.GetText("run");
  const std::int32_t count = document.GetCount("data");
  manifest.entries.reserve(static_cast<std::size_t>(count > 0 ? count : 0));
  for (std::int32_t i = 0; i < count; ++i) {
    const std::string element = "data[" + std::to_string(i) + "].";
    state::UpdateEntry entry;
    entry.name = document.GetText(element + "name");
    entry.md5 = document.GetText(element + "md5");
    entry.url = document.GetText(element + "url");
    entry.path = document.GetText(element + "path");
    manifest.entries.push_back(std::move(entry));
  }
  return manifest;
}

// A manifest is applied whole or not at all: one path that leaves the run directory refuses it.
bool StaysInRunDirectory(const Manifest& manifest) {
  if (!IsSafeLaunchTarget(manifest.run)) return false;
  for (const state::UpdateEntry& entry : manifest.entries) {
    if (!IsSafeInstallPath(entry.path)) return false;
  }
  return true;
}

// An interrupted run's staging files are kept for the entries that are still to be downloaded, so
// that their downloads resume; those of entries that changed, are up to date or are no longer
// listed are of no use any more.
void KeepOnlyResumableStagingFiles(const std::string& runDirectory, const std::vector<state::UpdateEntry>& listed) {
  std::vector<std::string> resumable;
  resumable.reserve(listed.size());
  for (const state::UpdateEntry& entry : listed) {
    resumable.push_back(StagingPathOf(runDirectory + entry.path, entry.md5, entry.url));
  }
  RemoveStagingFilesExcept(runDirectory, resumable);
}

}  // namespace

std::string HandOffFile() { return RunDirectory() + kHandOffFileName; }

std::int32_t LoadManifest() {
  state::ProgramState& state = state::State();
  const std::string runDirectory = RunDirectory();
  const std::string handOffFile = runDirectory + kHandOffFileName;

  const std::string text = state.fetchFromServer ? FetchManifestText() : ReadHandOffText(handOffFile);
  if (text.empty()) RefuseManifest(NoTextContent());

  Manifest manifest;
  {
    json::JsonDocument document;
    if (!document.Parse(text)) RefuseManifest(BadTextContent());
    manifest = ReadManifest(document);
  }
  if (!StaysInRunDirectory(manifest)) RefuseManifest(BadTextContent());

  // The hand-off file is consumed by a manifest that was accepted; a missing file is no error.
  platform::RemoveFile(handOffFile);

  state.updateList.clear();
  state.launchTarget = std::move(manifest.run);
  // Every local file hashed on all cores; the results come in manifest order, so the list keeps it.
  std::vector<std::string> localFiles;
  localFiles.reserve(manifest.entries.size());
  for (const state::UpdateEntry& entry : manifest.entries) localFiles.push_back(runDirectory + entry.path);
  const std::vector<FileFingerprint> fingerprints = FingerprintFiles(localFiles);
  for (std::size_t i = 0; i < manifest.entries.size(); ++i) {
    // Byte for byte: an upper-case digest in the manifest never matches, and the file is listed.
    if (fingerprints[i].md5 != manifest.entries[i].md5) state.updateList.push_back(std::move(manifest.entries[i]));
  }
  KeepOnlyResumableStagingFiles(runDirectory, state.updateList);
  return static_cast<std::int32_t>(state.updateList.size());
}

}  // namespace velmora::update
