#include "download/staged_install.h"

#include "platform/file.h"
#include "platform/processes.h"
#include "update/fingerprint.h"
#include "update/path_safety.h"

namespace velmora::download {

bool IsOwnExecutable(const std::string& target) {
  const std::string own = platform::ExecutablePath();
  return !own.empty() && update::PathKey(own) == update::PathKey(target);
}

InstallResult InstallStaged(const std::string& staging, const std::string& target, const std::string& md5Hex,
                            const std::string& expectedMd5) {
  if (md5Hex.empty() || !update::Md5Accepts(expectedMd5, md5Hex)) {
    platform::RemoveFile(staging);
    return InstallResult::DigestMismatch;
  }
  if (IsOwnExecutable(target)) {
    const std::string setAside = target + kSetAsideSuffix;
    if (!platform::MoveFileReplacing(target, setAside)) {
      platform::RemoveFile(staging);
      return InstallResult::ReplaceFailed;
    }
    if (!platform::MoveFileReplacing(staging, target)) {
      platform::MoveFileReplacing(setAside, target);
      platform::RemoveFile(staging);
      return InstallResult::ReplaceFailed;
    }
    return InstallResult::Installed;
  }
  if (!platform::MoveFileReplacing(staging, target)) {
    platform::RemoveFile(staging);
    return InstallResult::ReplaceFailed;
  }
  return InstallResult::Installed;
}

void RemoveSetAsideExecutable() {
  const std::string own = platform::ExecutablePath();
  if (!own.empty()) platform::RemoveFile(own + kSetAsideSuffix);
}

}  // namespace velmora::download
