#include "install/kept_release.h"

#include "install/record_file.h"
#include "state/listed_digest.h"
#include "update/durable_file.h"
#include "update/fingerprint.h"
#include "update/path_safety.h"
#include "update/state_paths.h"

namespace velmora::install {
namespace {

constexpr std::string_view kHeader = "velmora-kept-release\t1";

}  // namespace

std::string FormatKeptRelease(const KeptRelease& release) {
  std::string text(kHeader);
  text += "\nrun\t" + EncodeField(release.launchTarget) + "\nrelease\t" + EncodeField(release.releaseIdentity) + '\n';
  for (const KeptFile& file : release.kept) {
    text += "kept\t" + EncodeField(file.path) + '\t' + std::to_string(file.size) + '\t' + EncodeField(file.md5) + '\n';
  }
  for (const std::string& path : release.added) text += "added\t" + EncodeField(path) + '\n';
  text += "end\t" + std::to_string(release.kept.size() + release.added.size()) + '\n';
  return text;
}

std::optional<KeptRelease> ParseKeptRelease(std::string_view text) {
  const std::vector<std::string_view> lines = SplitLines(text);
  if (lines.size() < 4 || lines[0] != kHeader) return std::nullopt;
  const std::vector<std::string_view> run = SplitFields(lines[1]);
  const std::vector<std::string_view> identity = SplitFields(lines[2]);
  if (run.size() != 2 || run[0] != "run" || identity.size() != 2 || identity[0] != "release") return std::nullopt;
  KeptRelease release;
  const std::optional<std::string> launchTarget = DecodeField(run[1]);
  const std::optional<std::string> releaseIdentity = DecodeField(identity[1]);
  if (!launchTarget || !update::IsSafeLaunchTarget(*launchTarget) || !releaseIdentity) return std::nullopt;
  release.launchTarget = *launchTarget;
  release.releaseIdentity = *releaseIdentity;
  for (std::size_t i = 3; i + 1 < lines.size(); ++i) {
    const std::vector<std::string_view> fields = SplitFields(lines[i]);
    if (fields.size() == 4 && fields[0] == "kept") {
      const std::optional<std::string> path = DecodeInstallPath(fields[1]);
      const std::optional<std::int64_t> size = ParseWholeNumber(fields[2]);
      if (!path || !size || *size < 0 || !state::ListedMd5(fields[3]).Checkable()) {
        return std::nullopt;
      }
      release.kept.push_back({*path, *size, std::string(fields[3])});
    } else if (fields.size() == 2 && fields[0] == "added") {
      const std::optional<std::string> path = DecodeInstallPath(fields[1]);
      if (!path) return std::nullopt;
      release.added.push_back(*path);
    } else {
      return std::nullopt;
    }
  }
  const std::vector<std::string_view> end = SplitFields(lines.back());
  if (end.size() != 2 || end[0] != "end" ||
      ParseWholeNumber(end[1]) != static_cast<std::int64_t>(release.kept.size() + release.added.size())) {
    return std::nullopt;
  }
  return release;
}

std::optional<KeptRelease> ReadKeptRelease(const std::string& runDirectory) {
  const std::optional<std::string> text = update::ReadSmallFile(runDirectory + update::kKeptFolder + update::kKeptRecordName);
  if (!text) return std::nullopt;
  return ParseKeptRelease(*text);
}

std::string KeptFileOf(const std::string& folder, const std::string& path) { return folder + update::kKeptFilesName + path; }

std::int64_t KeptBytes(const KeptRelease& release) {
  std::int64_t total = 0;
  for (const KeptFile& file : release.kept) total += file.size;
  return total;
}

}  // namespace velmora::install
