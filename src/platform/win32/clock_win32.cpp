#include <windows.h>

#include "platform/clock.h"

namespace velmora::platform {

std::uint32_t SystemTickCount() { return GetTickCount(); }

}  // namespace velmora::platform
