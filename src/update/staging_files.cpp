#include "update/staging_files.h"

#include <set>

#include "platform/directory_walk.h"
#include "platform/file.h"
#include "text/encoding.h"
#include "update/fingerprint.h"
#include "update/path_safety.h"

namespace velmora::update {
namespace {

constexpr std::size_t kEntryKeyDigits = 16;

}  // namespace

std::string StagingPathOf(const std::string& target, const state::UpdateEntry& entry) {
  const std::string content = LowerCaseDigest(entry.md5) + "\n" + LowerCaseDigest(entry.sha256) + "\n" +
                              (entry.size >= 0 ? std::to_string(entry.size) : std::string());
  const std::string entryKey = Md5Hex(content).substr(0, kEntryKeyDigits);
  return target + "." + entryKey + kStagingSuffix;
}

int RemoveStagingFilesExcept(const std::string& runDirectory, const std::vector<std::string>& kept) {
  std::set<std::u16string> keptKeys;
  for (const std::string& path : kept) keptKeys.insert(PathKey(path));

  const std::u16string suffix = text::NarrowToWide(kStagingSuffix, text::NarrowCodePage);
  int removed = 0;
  for (const platform::WalkedFile& file : platform::WalkDirectoryTree(runDirectory).files) {
    const std::u16string& name = file.relativePath;
    if (name.size() < suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
    // Staging files are named from GBK paths, so their names always have a GBK form.
    const std::string path = runDirectory + "\\" + text::WideToNarrow(name, text::NarrowCodePage);
    if (keptKeys.count(PathKey(path)) == 0 && platform::RemoveFile(path)) ++removed;
  }
  return removed;
}

}  // namespace velmora::update
