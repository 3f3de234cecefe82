// What per-machine installs ask of the system before an update: whether the product's folder can
// be written, whether the update service serves this copy of the updater, and the elevated start
// of a program. The decisions built on the answers are portable (app/update_route.h) and tested
// natively with a fake of this interface; the system's answers come from platform/file.h,
// platform/service_control.h and platform/shell.h.
#pragma once

#include <string>

namespace velmora::platform {

class MachineServices {
 public:
  virtual ~MachineServices() = default;

  // A new file can be created at `path` (GBK; a name no one else uses) and removed again. Nothing
  // is left behind either way.
  virtual bool CanCreateFile(const std::string& path) = 0;
  // The update service is installed and runs `executablePath` (compared ignoring ASCII case).
  virtual bool ServiceInstalledFor(const std::string& executablePath) = 0;
  // Starts `file` with `parameters` elevated ("runas"); false when it did not start (the user
  // declined, or the system has no such start).
  virtual bool StartElevated(const std::string& file, const std::string& parameters) = 0;
};

// The system's answers unless a test has replaced them. Thread-safe.
MachineServices& CurrentMachineServices();
// Tests: `services` (not owned) answers from now on; null restores the system's. Thread-safe.
void ReplaceMachineServices(MachineServices* services);

}  // namespace velmora::platform
