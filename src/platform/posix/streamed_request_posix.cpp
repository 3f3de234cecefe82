// The native build has no download connection: no session opens. Native tests answer in its
// place through ReplaceStreamingHttp.
#include "platform/streamed_request.h"

namespace velmora::platform {
namespace {

class NoStreamingHttp final : public StreamingHttp {
 public:
  std::uint32_t ConnectedStateFlags() override { return 0; }
  std::unique_ptr<InternetSession> OpenSession(const std::string&, std::uint32_t, std::uint32_t) override {
    return nullptr;
  }
};

}  // namespace

StreamingHttp& PlatformStreamingHttp() {
  static NoStreamingHttp http;
  return http;
}

}  // namespace velmora::platform
