#include "update/staging_files.h"

#include <map>

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
  const std::string content = entry.md5.Text() + "\n" + entry.sha256.Text() + "\n" +
                              (entry.size >= 0 ? std::to_string(entry.size) : std::string());
  const std::string entryKey = Md5Hex(content).substr(0, kEntryKeyDigits);
  return target + "." + entryKey + kStagingSuffix;
}

int RemoveStagingFilesExcept(const std::string& runDirectory, const std::vector<std::string>& kept,
                             std::vector<bool>* keptFound) {
  std::map<std::u16string, std::size_t> keptKeys;
  for (std::size_t i = 0; i < kept.size(); ++i) keptKeys.emplace(PathKey(kept[i]), i);
  if (keptFound != nullptr) keptFound->assign(kept.size(), false);

  const std::u16string suffix = text::NarrowToWide(kStagingSuffix, text::NarrowCodePage);
  int removed = 0;
  for (const platform::WalkedFile& file : platform::WalkDirectoryTree(runDirectory).files) {
    const std::u16string& name = file.relativePath;
    if (name.size() < suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
    // Staging files are named from GBK paths, so their names always have a GBK form.
    const std::string path = runDirectory + "\\" + text::WideToNarrow(name, text::NarrowCodePage);
    const auto found = keptKeys.find(PathKey(path));
    if (found != keptKeys.end()) {
      if (keptFound != nullptr) (*keptFound)[found->second] = true;
    } else if (platform::RemoveFile(path)) {
      ++removed;
    }
  }
  return removed;
}

}  // namespace velmora::update
