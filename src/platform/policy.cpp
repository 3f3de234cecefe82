#include "platform/policy.h"

#include <atomic>

namespace velmora::platform {
namespace {

std::atomic<PolicySource*> replacement{nullptr};

}  // namespace

UpdatePolicy ReadUpdatePolicy() {
  if (PolicySource* source = replacement.load()) return source->Read();
  return PlatformUpdatePolicy();
}

void ReplacePolicySource(PolicySource* source) { replacement.store(source); }

}  // namespace velmora::platform
