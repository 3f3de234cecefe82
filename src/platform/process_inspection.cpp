#include "platform/process_inspection.h"

#include "platform/replaceable.h"

namespace velmora::platform {
namespace {

Replaceable<ProcessInspection> service{PlatformProcessInspection};

}  // namespace

ProcessInspection& CurrentProcessInspection() { return service.Current(); }

void ReplaceProcessInspection(ProcessInspection* inspection) { service.Replace(inspection); }

}  // namespace velmora::platform
