// The native build has no manifest server connection: every request reports that no response
// arrived. Code that needs responses in native tests takes them from a test double.
#include "platform/http_client.h"

namespace velmora::platform {

HttpResponse HttpGet(const std::string& /*url*/, std::uint32_t /*timeoutMs*/) { return {}; }

}  // namespace velmora::platform
