// Linux files have no Windows security descriptors, and nothing here runs as SYSTEM.
#include "platform/file_security.h"

namespace velmora::platform {

bool ReadPathSecurity(const std::string&, std::string&, std::string& error) {
  error = "not supported on this system";
  return false;
}

bool RunsAsLocalSystem() { return false; }

}  // namespace velmora::platform
