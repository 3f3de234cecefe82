#include "platform/http_client.h"

#include "platform/replaceable.h"

namespace velmora::platform {
namespace {

class PlatformHttpClient final : public HttpClient {
 public:
  HttpResponse Get(const std::string& url, std::uint32_t timeoutMs) override { return HttpGet(url, timeoutMs); }
};

HttpClient& PlatformClient() {
  static PlatformHttpClient client;
  return client;
}

Replaceable<HttpClient> service{PlatformClient};

}  // namespace

HttpClient& CurrentHttpClient() { return service.Current(); }

void ReplaceHttpClient(HttpClient* client) { service.Replace(client); }

}  // namespace velmora::platform
