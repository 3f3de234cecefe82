#include "update/staging_files.h"

#include <map>
#include <set>

#include "platform/directory_walk.h"
#include "platform/file.h"
#include "text/encoding.h"
#include "update/fingerprint.h"
#include "update/path_safety.h"
#include "update/run_directory.h"

namespace velmora::update {
namespace {

constexpr std::size_t kEntryKeyDigits = 16;
constexpr std::size_t kFolderKeyDigits = 2;

// True when the staging file is in a staging folder (not beside its target, as earlier versions
// put it).
bool IsInStagingFolder(const std::string& staging) {
  const std::string above = DirectoryOf(DirectoryOf(staging));
  const std::string name = std::string("\\") + kStagingFolder;
  return above.size() >= name.size() && above.compare(above.size() - name.size(), name.size(), name) == 0;
}

}  // namespace

std::string StagingPathOf(const std::string& target, const state::UpdateEntry& entry) {
  const std::string content = entry.md5.Text() + "\n" + entry.sha256.Text() + "\n" +
                              (entry.size >= 0 ? std::to_string(entry.size) : std::string());
  const std::string entryKey = Md5Hex(content).substr(0, kEntryKeyDigits);
  const std::string folder = DirectoryOf(target);
  const std::string name = target.substr(std::min(folder.size() + 1, target.size()));
  return folder + "\\" + kStagingFolder + "\\" + entryKey.substr(0, kFolderKeyDigits) + "\\" + name + "." + entryKey +
         kStagingSuffix;
}

void MakeStagingFolders(const std::string& staging) {
  const std::string folder = DirectoryOf(staging);
  platform::CreateDirectoryAt(DirectoryOf(folder));
  platform::CreateDirectoryAt(folder);
}

void RemoveEmptyStagingFolders(const std::vector<std::string>& stagingFiles) {
  std::set<std::string> folders;
  std::set<std::string> above;
  for (const std::string& staging : stagingFiles) {
    if (!IsInStagingFolder(staging)) continue;
    folders.insert(DirectoryOf(staging));
    above.insert(DirectoryOf(DirectoryOf(staging)));
  }
  for (const std::string& folder : folders) platform::RemoveEmptyDirectory(folder);
  for (const std::string& folder : above) platform::RemoveEmptyDirectory(folder);
}

int RemoveStagingFilesExcept(const std::string& runDirectory, const std::vector<std::string>& kept,
                             std::vector<bool>* keptFound) {
  std::map<std::u16string, std::size_t> keptKeys;
  for (std::size_t i = 0; i < kept.size(); ++i) keptKeys.emplace(PathKey(kept[i]), i);
  if (keptFound != nullptr) keptFound->assign(kept.size(), false);

  const std::u16string suffix = text::NarrowToWide(kStagingSuffix, text::NarrowCodePage);
  std::vector<std::string> removed;
  for (const platform::WalkedFile& file : platform::WalkDirectoryTree(runDirectory).files) {
    const std::u16string& name = file.relativePath;
    if (name.size() < suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
    // Staging files are named from GBK paths, so their names always have a GBK form.
    const std::string path = runDirectory + "\\" + text::WideToNarrow(name, text::NarrowCodePage);
    const auto found = keptKeys.find(PathKey(path));
    if (found != keptKeys.end()) {
      if (keptFound != nullptr) (*keptFound)[found->second] = true;
    } else if (platform::RemoveFile(path)) {
      removed.push_back(path);
    }
  }
  RemoveEmptyStagingFolders(removed);
  return static_cast<int>(removed.size());
}

}  // namespace velmora::update
