// No shell to start Windows programs with on POSIX systems.
#include "platform/shell.h"

namespace velmora::platform {

bool PlatformRunElevated(const std::string&, const std::string&) { return false; }

bool PlatformRunElevatedWatched(const std::string&, const std::string&, std::unique_ptr<StartedProcess>& process) {
  process.reset();
  return false;
}

}  // namespace velmora::platform
