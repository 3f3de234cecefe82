#include "update/staging_files.h"

#include <set>

#include "platform/file.h"
#include "update/fingerprint.h"
#include "update/path_safety.h"

namespace velmora::update {
namespace {

constexpr std::size_t kEntryKeyDigits = 16;

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::string StagingPathOf(const std::string& target, const std::string& md5, const std::string& url) {
  const std::string entryKey = Md5Hex(md5 + "\n" + url).substr(0, kEntryKeyDigits);
  return target + "." + entryKey + kStagingSuffix;
}

int RemoveStagingFilesExcept(const std::string& runDirectory, const std::vector<std::string>& kept) {
  std::set<std::u16string> keptKeys;
  for (const std::string& path : kept) keptKeys.insert(PathKey(path));

  int removed = 0;
  std::vector<std::string> directories{runDirectory};
  while (!directories.empty()) {
    const std::string directory = std::move(directories.back());
    directories.pop_back();
    for (platform::DirectoryItem& item : platform::ListDirectory(directory)) {
      std::string path = directory + "\\" + item.name;
      if (item.isDirectory) {
        directories.push_back(std::move(path));
      } else if (EndsWith(item.name, kStagingSuffix) && keptKeys.count(PathKey(path)) == 0 &&
                 platform::RemoveFile(path)) {
        ++removed;
      }
    }
  }
  return removed;
}

}  // namespace velmora::update
