#include "update/rolled_back_release.h"

#include <algorithm>

#include "platform/file.h"
#include "update/state_paths.h"
#include "text/encoding.h"
#include "update/durable_file.h"
#include "update/fingerprint.h"
#include "update/path_safety.h"

namespace velmora::update {
namespace {

constexpr std::size_t kIdentityLength = 32;

// The identity kept in the file; empty when there is none.
std::string StoredIdentity(const std::string& runDirectory) {
  platform::InputFile file;
  if (!file.Open(runDirectory + kRolledBackPath)) return {};
  char text[kIdentityLength + 1] = {};
  const std::int64_t got = file.Read(text, kIdentityLength + 1);
  if (got != static_cast<std::int64_t>(kIdentityLength)) return {};
  return std::string(text, kIdentityLength);
}

}  // namespace

std::string ReleaseIdentity(const std::vector<state::UpdateEntry>& entries) {
  std::vector<std::string> lines;
  lines.reserve(entries.size());
  for (const state::UpdateEntry& entry : entries) {
    lines.push_back(text::WideToNarrow(PathKey(entry.path), text::Utf8CodePage) + '\t' + entry.md5.Text() + '\t' +
                    entry.sha256.Text() + '\t' + std::to_string(entry.size) + '\n');
  }
  std::sort(lines.begin(), lines.end());
  std::string all;
  for (const std::string& line : lines) all += line;
  return Md5Hex(all);
}

bool IsRolledBackRelease(const std::string& runDirectory, const std::string& identity) {
  return !identity.empty() && StoredIdentity(runDirectory) == identity;
}

void RememberRolledBackRelease(const std::string& runDirectory, const std::string& identity) {
  WriteFileDurably(runDirectory + kRolledBackPath, identity);
}

void ForgetRolledBackRelease(const std::string& runDirectory) { platform::RemoveFile(runDirectory + kRolledBackPath); }

}  // namespace velmora::update
