#include "download/run_folders.h"

#include <algorithm>

#include "install/locked_file_release.h"

namespace velmora::download {

std::string FolderPartOf(const std::string& path) {
  const std::size_t nameLength = std::min(install::FileNameOfPath(path, true).size(), path.size());
  return path.substr(0, path.size() - nameLength);
}

bool RunFolders::Contains(const std::string& folder) const {
  const std::lock_guard lock(mutex_);
  return folders_.count(folder) != 0;
}

void RunFolders::Add(const std::string& folder) {
  const std::lock_guard lock(mutex_);
  folders_.insert(folder);
}

bool RunFolders::Remove(const std::string& folder) {
  const std::lock_guard lock(mutex_);
  return folders_.erase(folder) != 0;
}

void RunFolders::Clear() {
  const std::lock_guard lock(mutex_);
  folders_.clear();
}

}  // namespace velmora::download
