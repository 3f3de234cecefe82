// No machine policy store on POSIX systems: updates are never disabled there.
#include "platform/policy.h"

namespace velmora::platform {

UpdatePolicy PlatformUpdatePolicy() { return {}; }

}  // namespace velmora::platform
