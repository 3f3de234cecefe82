// No update service and no pipe of its kind here: no process is described.
#include "platform/process_identity.h"

namespace velmora::platform {

ProcessIdentity DescribeProcess(std::uint32_t) { return {}; }

std::string ServiceAccountUser() { return {}; }

}  // namespace velmora::platform
