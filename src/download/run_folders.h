// Folders that a run has made or found, remembered so that each is looked for or made once per
// run rather than once per file: under Wine a look for a folder, or the making of one that exists,
// is a read of its parent or a call to the wineserver. Forgotten when the next run starts.
#pragma once

#include <mutex>
#include <set>
#include <string>

namespace velmora::download {

// "C:\App\Bin\" for "C:\App\Bin\x.dll": the folder part of a GBK path, its separator kept, found
// GBK-aware (the second byte of a character such as "淺" is a backslash).
std::string FolderPartOf(const std::string& path);

// A set of folders. Thread-safe.
class RunFolders {
 public:
  bool Contains(const std::string& folder) const;
  void Add(const std::string& folder);
  // True when `folder` was there.
  bool Remove(const std::string& folder);
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::set<std::string> folders_;
};

}  // namespace velmora::download
