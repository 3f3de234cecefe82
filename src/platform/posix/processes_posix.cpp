// Processes on POSIX systems: the own executable from /proc; only the own process can be ended.
#include "platform/processes.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "platform/codepage.h"

namespace velmora::platform {

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(getpid()); }

std::string ExecutablePath() {
  std::error_code error;
  const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return WideToMultiByte(path.u16string(), 936);
}

bool TerminateProcessWithCode(std::uint32_t processId, std::uint32_t exitCode) {
  if (processId != 0 && processId != CurrentProcessId()) return false;
  _exit(static_cast<int>(exitCode));
}

std::uint32_t FindProcessByName(const std::string& /*exeFileName*/, std::uint32_t /*excludedProcessId*/) {
  return 0;
}

}  // namespace velmora::platform
