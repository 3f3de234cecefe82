// The kept previous release: the old bytes of every file the last update replaced, at their paths
// below the kept folder's "files", and a record of them, of the files that update added, of the
// program it launched and of which release it installed (so that a release rolled back is not
// offered again).
//
// Record format (UTF-8 lines, tab-separated, paths encoded with EncodeField):
//   velmora-kept-release<TAB>1
//   run<TAB>launch target
//   release<TAB>identity of the release that replaced these files
//   kept<TAB>path<TAB>size<TAB>md5       (one per kept file)
//   added<TAB>path                       (one per file the release added)
//   end<TAB>number of kept and added lines
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::install {

struct KeptFile {
  std::string path;  // relative to the run directory, beginning with "\"
  std::int64_t size = -1;
  std::string md5;   // 32 lower-case hex digits
};

struct KeptRelease {
  std::string launchTarget;
  std::string releaseIdentity;
  std::vector<KeptFile> kept;
  std::vector<std::string> added;
};

std::string FormatKeptRelease(const KeptRelease& release);

// The record that `text` holds; nothing when it is incomplete, of another format, or names a path
// that would leave the run directory.
std::optional<KeptRelease> ParseKeptRelease(std::string_view text);

// The kept release of the run directory (GBK), or nothing when none is kept.
std::optional<KeptRelease> ReadKeptRelease(const std::string& runDirectory);

// The file that keeps the old bytes of `path` in the kept folder `folder` (both relative).
std::string KeptFileOf(const std::string& folder, const std::string& path);

// The bytes the kept files of `release` take.
std::int64_t KeptBytes(const KeptRelease& release);

}  // namespace velmora::install
