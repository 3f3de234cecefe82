// The POSIX layer has no windows: the update window cannot be created.
#include "platform/window.h"

namespace velmora::platform {

bool ShowModalWindow(const WindowDesign& /*design*/, const WindowEvents& /*events*/) { return false; }

}  // namespace velmora::platform
