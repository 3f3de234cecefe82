// The POSIX layer has no HTTP client and no window: no proxy ever asks it for credentials.
#include "platform/proxy_credentials.h"

namespace velmora::platform {

void AllowProxyCredentialDialog(WindowHandle /*owner*/) {}

}  // namespace velmora::platform
