#include "platform/streamed_request.h"

#include "platform/replaceable.h"

namespace velmora::platform {
namespace {

Replaceable<StreamingHttp> service{PlatformStreamingHttp};

}  // namespace

StreamingHttp& CurrentStreamingHttp() { return service.Current(); }

void ReplaceStreamingHttp(StreamingHttp* http) { service.Replace(http); }

}  // namespace velmora::platform
