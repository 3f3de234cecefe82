#include "platform/http_client.h"

#include <atomic>

namespace velmora::platform {
namespace {

class PlatformHttpClient final : public HttpClient {
 public:
  HttpResponse Get(const std::string& url, std::uint32_t timeoutMs) override { return HttpGet(url, timeoutMs); }
};

std::atomic<HttpClient*> replacement{nullptr};

}  // namespace

HttpClient& CurrentHttpClient() {
  static PlatformHttpClient platformClient;
  HttpClient* client = replacement.load(std::memory_order_acquire);
  return client != nullptr ? *client : platformClient;
}

void ReplaceHttpClient(HttpClient* client) { replacement.store(client, std::memory_order_release); }

}  // namespace velmora::platform
