// The folder walk on POSIX systems: readdir and lstat, names taken as UTF-8.
#include "platform/directory_walk.h"

#include <dirent.h>
#include <ftw.h>
#include <unistd.h>
#include <sys/stat.h>

#include <utility>

#include "platform/codepage.h"
#include "platform/posix/native_path.h"

namespace velmora::platform {
namespace {

constexpr std::uint32_t kUtf8 = 65001;

// The name as UTF-16, and whether it was valid UTF-8 (the conversion back gives the same bytes).
std::pair<std::u16string, bool> WideName(const std::string& name) {
  std::u16string wide = MultiByteToWide(name, kUtf8);
  const bool valid = !wide.empty() && WideToMultiByte(wide, kUtf8) == name;
  return {std::move(wide), valid};
}

std::u16string Joined(const std::u16string& folder, const std::u16string& name) {
  return folder.empty() ? name : folder + u'\\' + name;
}

struct PendingFolder {
  std::string native;      // the folder's path on this system
  std::u16string relative; // its path below the root
};

void ReadFolder(const PendingFolder& folder, std::vector<PendingFolder>& pending, DirectoryWalk& walk) {
  DIR* directory = ::opendir(folder.native.c_str());
  if (directory == nullptr) {
    walk.problems.push_back({folder.relative, WalkProblemKind::FolderUnreadable});
    return;
  }
  while (const dirent* entry = ::readdir(directory)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    auto [wide, valid] = WideName(name);
    const std::u16string relative = Joined(folder.relative, wide);
    if (!valid || name.find('\\') != std::string::npos) {
      walk.problems.push_back({relative, valid ? WalkProblemKind::NameWithBackslash : WalkProblemKind::NameNotUnicode});
      continue;
    }
    std::string native = folder.native + "/" + name;
    struct stat status {};
    if (::lstat(native.c_str(), &status) != 0) {
      walk.problems.push_back({relative, WalkProblemKind::NotRegularFile});  // removed meanwhile
      continue;
    }
    const bool isLink = S_ISLNK(status.st_mode);
    if (isLink && ::stat(native.c_str(), &status) != 0) {
      walk.problems.push_back({relative, WalkProblemKind::NotRegularFile});  // a dangling link
      continue;
    }
    if (S_ISDIR(status.st_mode)) {
      if (isLink) {
        walk.problems.push_back({relative, WalkProblemKind::FolderLink});
      } else {
        pending.push_back({std::move(native), relative});
      }
    } else if (S_ISREG(status.st_mode)) {
      walk.files.push_back({relative, static_cast<std::uint64_t>(status.st_size)});
    } else {
      walk.problems.push_back({relative, WalkProblemKind::NotRegularFile});
    }
  }
  ::closedir(directory);
}

}  // namespace

bool FolderExists(const std::string& path) {
  const std::string native = posix::NativePath(path);
  struct stat status {};
  return !native.empty() && ::stat(native.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

DirectoryWalk WalkDirectoryTree(const std::string& root) {
  DirectoryWalk walk;
  if (!FolderExists(root)) return walk;
  walk.rootIsFolder = true;
  const std::string native = posix::NativePath(root);

  std::vector<PendingFolder> pending{{native, u""}};
  while (!pending.empty()) {
    const PendingFolder folder = std::move(pending.back());
    pending.pop_back();
    ReadFolder(folder, pending, walk);
  }
  return walk;
}

bool RemoveFolderTree(const std::string& path) {
  const std::string native = posix::NativePath(path);
  struct stat status {};
  if (native.empty()) return false;
  if (::lstat(native.c_str(), &status) != 0) return true;
  // Depth first and without following links: a link inside is removed as the link it is.
  ::nftw(
      native.c_str(),
      [](const char* item, const struct stat*, int kind, struct FTW*) {
        (kind == FTW_DP ? ::rmdir(item) : ::unlink(item));
        return 0;
      },
      16, FTW_DEPTH | FTW_PHYS);
  return ::lstat(native.c_str(), &status) != 0;
}

}  // namespace velmora::platform
