#include "install/own_executable.h"

#include "platform/file.h"
#include "platform/processes.h"
#include "update/path_safety.h"

namespace velmora::install {
namespace {

bool Exists(const std::string& path) { return platform::FileLength(path) >= 0; }

}  // namespace

bool IsOwnExecutable(const std::string& target) {
  const std::string own = platform::ExecutablePath();
  return !own.empty() && update::PathKey(own) == update::PathKey(target);
}

bool PutInPlace(const std::string& source, const std::string& target) {
  if (platform::MoveFileReplacing(source, target)) return true;
  if (!IsOwnExecutable(target) || !Exists(target)) return false;
  const std::string setAside = target + kSetAsideSuffix;
  if (!platform::MoveFileReplacing(target, setAside)) return false;
  if (platform::MoveFileReplacing(source, target)) return true;
  platform::MoveFileReplacing(setAside, target);
  return false;
}

bool RemoveTarget(const std::string& target) {
  if (platform::RemoveFile(target) || !Exists(target)) return true;
  return IsOwnExecutable(target) && platform::MoveFileReplacing(target, target + kSetAsideSuffix);
}

void RemoveSetAsideExecutable() {
  const std::string own = platform::ExecutablePath();
  if (!own.empty()) platform::RemoveFile(own + kSetAsideSuffix);
}

}  // namespace velmora::install
