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

bool RunElevatedWatched(const std::string& file, const std::string& parameters,
                        std::unique_ptr<StartedProcess>& process) {
  process.reset();
  if (const LaunchFunction launch = replacement.load()) return launch(file, parameters);
  return PlatformRunElevatedWatched(file, parameters, process);
}

void ReplaceElevatedLaunch(LaunchFunction launch) { replacement.store(launch); }

}  // namespace velmora::platform
