#include "download/download_session.h"

#include <cstdint>
#include <string>

#include "platform/clock.h"

namespace velmora::download {
namespace {

std::string AgentName() {
  // Read as a signed number: after about 24.8 days of uptime the name carries a minus sign.
  return "Agent" + std::to_string(static_cast<std::int32_t>(platform::TickCount()));
}

std::uint32_t AccessTypeFor(std::uint32_t connectionFlags) {
  return (connectionFlags & platform::kInternetConnectionProxy) != 0
             ? platform::kInternetOpenTypePreconfig
             : platform::kInternetOpenTypePreconfigWithNoAutoproxy;
}

}  // namespace

std::unique_ptr<platform::InternetSession> OpenDownloadSession() {
  platform::StreamingHttp& http = platform::CurrentStreamingHttp();
  const std::uint32_t connectionFlags = http.ConnectedStateFlags();
  return http.OpenSession(AgentName(), AccessTypeFor(connectionFlags));
}

}  // namespace velmora::download
