// What per-machine installs ask of the system before an update: whether the product's folder can
// be written, whether the update service serves this copy of the updater, the elevated start of a
// program, and the service's pipe with the facts that tell whether its server is the service.
// The decisions built on the answers are portable (app/update_route.h, app/pipe_server_check.h)
// and tested natively with a fake of this interface; the system's answers come from
// platform/file.h, platform/service_control.h, platform/service_pipe.h,
// platform/process_identity.h and platform/shell.h.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/process_identity.h"
#include "platform/service_control.h"
#include "platform/service_pipe.h"

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

  // The update service's pipe and process, as platform/service_pipe.h, platform/service_control.h
  // and platform/process_identity.h describe them.
  virtual std::unique_ptr<PipeConnection> ConnectToServicePipe(std::uint32_t waitMs) = 0;
  virtual bool StartUpdateService(std::string& error) = 0;
  virtual UpdateServiceStatus QueryUpdateServiceStatus() = 0;
  virtual ProcessIdentity DescribeProcess(std::uint32_t processId) = 0;
  virtual std::string ServiceAccountUser() = 0;
};

// The system's answers unless a test has replaced them. Thread-safe.
MachineServices& CurrentMachineServices();
// Tests: `services` (not owned) answers from now on; null restores the system's. Thread-safe.
void ReplaceMachineServices(MachineServices* services);

}  // namespace velmora::platform
