// Walking a folder tree, provided by the platform layer: every file below a folder, with its path
// relative to the folder and its size, and whatever stood in the way of listing it completely.
//
// Names are reported as UTF-16, whatever the system's code pages: a publisher's folder may hold
// names that the program's GBK text cannot, and the caller decides what to do with those. The
// root is the program's GBK path text, as for every file function (platform/file.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora::platform {

// A regular file below the root: its path relative to the root, folders separated by "\" and no
// leading separator ("Bin\core.dll"), and its length in bytes. A link to a file is reported as the
// file it points to.
struct WalkedFile {
  std::u16string relativePath;
  std::uint64_t size = 0;
};

// What kept an item from being listed. None of them is skipped in silence: each one is reported,
// so that a caller can refuse an incomplete listing.
enum class WalkProblemKind {
  FolderUnreadable,  // a folder whose items could not be read (permissions, removed meanwhile)
  FolderLink,        // a link to a folder (a symbolic link, a junction): never followed, so no loop
  NameNotUnicode,    // a name that is no valid UTF-8 (POSIX only); reported with U+FFFD in it
  NameWithBackslash, // a name holding a backslash, which Windows reads as a separator (POSIX only)
  NotRegularFile,    // a device, pipe or socket, or a link whose target is gone
};

struct WalkProblem {
  std::u16string relativePath;  // as in WalkedFile; empty for the root itself
  WalkProblemKind kind = WalkProblemKind::FolderUnreadable;
};

struct DirectoryWalk {
  bool rootIsFolder = false;  // false when `root` is missing or is no folder (nothing else is set)
  std::vector<WalkedFile> files;       // in no particular order
  std::vector<WalkProblem> problems;   // in no particular order
};

// Every file below the folder `root` (GBK), folders included to any depth. Empty folders add
// nothing. Costs one directory read per folder (and on POSIX one stat per item); memory grows
// with the number of files. Thread-safe.
DirectoryWalk WalkDirectoryTree(const std::string& root);

// True when `path` (GBK) names an existing folder (a link to one included). Thread-safe.
bool FolderExists(const std::string& path);

// Deletes the folder `path` (GBK) with everything below it; a link to a folder inside it is
// removed, never followed. True when nothing is left at `path` (also when nothing was there).
// Thread-safe.
bool RemoveFolderTree(const std::string& path);

}  // namespace velmora::platform
