#include "platform/shell.h"

#include <atomic>

namespace velmora::platform {
namespace {

std::atomic<LaunchFunction> replacement{nullptr};

}  // namespace

bool RunElevatedProgram(const std::string& file, const std::string& parameters) {
  if (const LaunchFunction launch = replacement.load()) return launch(file, parameters);
  return PlatformRunElevated(file, parameters);
}

void ReplaceElevatedLaunch(LaunchFunction launch) { replacement.store(launch); }

}  // namespace velmora::platform
