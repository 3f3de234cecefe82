// No shell to start Windows programs with on POSIX systems.
#include "platform/shell.h"

namespace velmora::platform {

bool PlatformRunElevated(const std::string&, const std::string&) { return false; }

}  // namespace velmora::platform
