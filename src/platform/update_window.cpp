#include "platform/update_window.h"

#include "platform/replaceable.h"

namespace velmora::platform {
namespace {

Replaceable<UpdateWindow> service{PlatformUpdateWindow};

}  // namespace

UpdateWindow& CurrentUpdateWindow() { return service.Current(); }

void ReplaceUpdateWindow(UpdateWindow* window) { service.Replace(window); }

}  // namespace velmora::platform
