#include "download/staged_install.h"

#include <algorithm>
#include <cctype>

#include "platform/file.h"
#include "platform/processes.h"

namespace velmora::download {
namespace {

// Windows paths name the same file whatever the letter case of their ASCII letters.
std::string FoldedCase(std::string path) {
  std::transform(path.begin(), path.end(), path.begin(), [](char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return path;
}

bool IsOwnExecutable(const std::string& target) {
  const std::string own = platform::ExecutablePath();
  return !own.empty() && FoldedCase(own) == FoldedCase(target);
}

}  // namespace

InstallResult InstallStaged(const std::string& staging, const std::string& target, const std::string& md5Hex,
                            const std::string& expectedMd5) {
  if (md5Hex.empty() || md5Hex != expectedMd5) {
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
