// The folder walk on Windows: FindFirstFileExW over each folder, names as the file system keeps
// them (UTF-16).
#include <windows.h>

#include <utility>

#include "platform/directory_walk.h"
#include "platform/win32/file_api_path.h"
#include "text/encoding.h"

namespace velmora::platform {
namespace {

// Owns a search handle, closed with FindClose.
class FindHandle {
 public:
  explicit FindHandle(HANDLE handle) : handle_(handle) {}
  ~FindHandle() {
    if (valid()) FindClose(handle_);
  }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

std::u16string Joined(const std::u16string& folder, const std::u16string& name) {
  return folder.empty() ? name : folder + u'\\' + name;
}

std::uint64_t SizeOf(const WIN32_FIND_DATAW& found) {
  return (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
}

// The size of the file a link points to (the search reports the link's own size, 0); false when
// the target is gone or is no file.
bool TargetSize(const std::u16string& path, std::uint64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(Wide(path), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

struct PendingFolder {
  std::u16string full;      // the folder's path, without a trailing separator
  std::u16string relative;  // its path below the root
};

void ReadFolder(const PendingFolder& folder, std::vector<PendingFolder>& pending, DirectoryWalk& walk) {
  WIN32_FIND_DATAW found{};
  const std::u16string pattern = folder.full + u"\\*";
  FindHandle search(FindFirstFileExW(Wide(pattern),
                                     FindExInfoBasic,  // no short names
                                     &found,
                                     FindExSearchNameMatch,
                                     nullptr,  // lpSearchFilter
                                     FIND_FIRST_EX_LARGE_FETCH));
  if (!search.valid()) {
    // An empty folder still lists "." and ".."; a failure here means it could not be read.
    walk.problems.push_back({folder.relative, WalkProblemKind::FolderUnreadable});
    return;
  }
  do {
    const std::u16string name(reinterpret_cast<const char16_t*>(found.cFileName));
    if (name == u"." || name == u"..") continue;
    const std::u16string relative = Joined(folder.relative, name);
    const std::u16string full = folder.full + u'\\' + name;
    const bool isLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      if (isLink) {
        walk.problems.push_back({relative, WalkProblemKind::FolderLink});
      } else {
        pending.push_back({full, relative});
      }
    } else if (isLink) {
      std::uint64_t size = 0;
      if (TargetSize(full, size)) {
        walk.files.push_back({relative, size});
      } else {
        walk.problems.push_back({relative, WalkProblemKind::NotRegularFile});
      }
    } else if ((found.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0) {
      walk.problems.push_back({relative, WalkProblemKind::NotRegularFile});
    } else {
      walk.files.push_back({relative, SizeOf(found)});
    }
  } while (FindNextFileW(search.get(), &found));
  if (GetLastError() != ERROR_NO_MORE_FILES) walk.problems.push_back({folder.relative, WalkProblemKind::FolderUnreadable});
}

}  // namespace

bool FolderExists(const std::string& path) {
  const std::u16string wide = win32::FileApiPath(path);
  if (wide.empty()) return false;
  const DWORD attributes = GetFileAttributesW(Wide(wide));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

DirectoryWalk WalkDirectoryTree(const std::string& root) {
  DirectoryWalk walk;
  std::u16string full = win32::FileApiPath(root);
  while (full.size() > 1 && (full.back() == u'\\' || full.back() == u'/') && full[full.size() - 2] != u':') {
    full.pop_back();
  }
  if (full.empty()) return walk;
  const DWORD attributes = GetFileAttributesW(Wide(full));
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return walk;
  walk.rootIsFolder = true;
  if (full.back() == u'\\' || full.back() == u'/') full.pop_back();  // "C:\" is searched as "C:\*"

  std::vector<PendingFolder> pending{{full, u""}};
  while (!pending.empty()) {
    const PendingFolder folder = std::move(pending.back());
    pending.pop_back();
    ReadFolder(folder, pending, walk);
  }
  return walk;
}

namespace {

// Removes everything inside the folder `full` (no trailing separator), depth first. A link to a
// folder is removed as a link: its target is never entered.
void RemoveFolderContents(const std::u16string& full) {
  WIN32_FIND_DATAW found{};
  const std::u16string pattern = full + u"\\*";
  FindHandle search(FindFirstFileExW(Wide(pattern), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
  if (!search.valid()) return;
  do {
    const std::u16string name(reinterpret_cast<const char16_t*>(found.cFileName));
    if (name == u"." || name == u"..") continue;
    const std::u16string item = full + u'\\' + name;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
      SetFileAttributesW(Wide(item), found.dwFileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) RemoveFolderContents(item);
      RemoveDirectoryW(Wide(item));
    } else {
      DeleteFileW(Wide(item));
    }
  } while (FindNextFileW(search.get(), &found));
}

}  // namespace

bool RemoveFolderTree(const std::string& path) {
  const std::u16string full = win32::FileApiPath(path);
  if (full.empty()) return false;
  if (GetFileAttributesW(Wide(full)) == INVALID_FILE_ATTRIBUTES) return true;
  RemoveFolderContents(full);
  RemoveDirectoryW(Wide(full));
  return GetFileAttributesW(Wide(full)) == INVALID_FILE_ATTRIBUTES;
}

}  // namespace velmora::platform
