// Putting a downloaded file in the product's place without ever leaving a half-written or wrong
// file there: the download goes to a staging file beside the target (update/staging_files.h), its
// MD5 is checked against the manifest entry, and only then does it replace the target in one
// step. Until then the old file is untouched.
#pragma once

#include <string>

namespace velmora::download {

// Appended to the updater's own executable when it is set aside to be replaced while it runs.
inline constexpr char kSetAsideSuffix[] = ".velmora-old";

enum class InstallResult {
  Installed,       // the staged file is now the target
  DigestMismatch,  // the staged file is not the listed one; it has been removed
  ReplaceFailed,   // the target could not be replaced (still held); the staged file has been removed
};

// Installs `staging` as `target` when `md5Hex` (the staged bytes' digest, lower-case hex) is
// accepted by `expectedMd5` (update::Md5Accepts: the same digest in either letter case; a listed
// text that is no MD5 digest accepts any bytes, the caller having checked size and SHA-256). The running updater's own executable is renamed aside first (a
// running program may be renamed, not overwritten) and put back if the replacement fails.
InstallResult InstallStaged(const std::string& staging, const std::string& target, const std::string& md5Hex,
                            const std::string& expectedMd5);

// True when `target` (GBK) names the running updater's own executable.
bool IsOwnExecutable(const std::string& target);

// Removes the updater's own executable that an earlier run set aside when it replaced it.
void RemoveSetAsideExecutable();

}  // namespace velmora::download
