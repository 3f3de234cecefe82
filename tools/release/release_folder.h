// A release folder: every file below it as the manifest will list it, in a stable order, and the
// reasons why the folder cannot be published as it is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora::release {

struct ReleaseFile {
  std::u16string relativePath;  // "Bin\core.dll": UTF-16, "\" between folders
  std::string manifestPath;     // "\Bin\core.dll" in GBK: the manifest's `path` as the updater reads it
  std::string localPath;        // the file on this system: the folder's path + manifestPath (GBK)
  std::uint64_t size = 0;       // as listed (the hashing counts the bytes again)
};

struct ReleaseFolder {
  bool found = false;                  // false: the folder is missing or no folder (nothing else set)
  std::vector<ReleaseFile> files;      // sorted by manifest path in UTF-16 code-unit order
  std::vector<std::string> problems;   // UTF-8 messages, each naming its file; sorted
  std::vector<std::string> warnings;   // what may still fail on some machines (long paths); sorted
};

// Paths longer than this (below the product's folder) are published with a warning: with the
// product's own folder in front they may pass the 260 characters that programs without long-path
// support (an antivirus, a backup tool, an older installer) can handle.
inline constexpr std::size_t kLongPathWarning = 200;

// Lists the folder `folder` (GBK). A file becomes a problem instead of an entry when the updater
// could not install it exactly: its name has no GBK form (it would reach the updater with "?"),
// Windows cannot hold the name, the path breaks the update check's path rules, or another file's
// path is the same on Windows (it differs only in letter case). Links to folders, unreadable
// folders and special files are problems too: a release is listed completely or not at all.
ReleaseFolder ListReleaseFolder(const std::string& folder);

// True when `a` sorts before `b` in a manifest (UTF-16 code units of the relative paths).
bool ComesBefore(const ReleaseFile& a, const ReleaseFile& b);

}  // namespace velmora::release
