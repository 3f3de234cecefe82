#include "platform/release_services.h"

#include "platform/replaceable.h"

namespace velmora::platform {
namespace {

Replaceable<ReleaseServices> service{PlatformReleaseServices};

}  // namespace

ReleaseServices& CurrentReleaseServices() { return service.Current(); }

void ReplaceReleaseServices(ReleaseServices* services) { service.Replace(services); }

}  // namespace velmora::platform
