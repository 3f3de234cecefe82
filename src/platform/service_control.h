// The update service in the system's service manager: installing it for one executable, asking
// which executable it runs, starting it on demand, removing it, and the service's own main.
//
// Windows: the service control manager (CreateServiceW as LocalSystem, own process, demand start,
// its command line "<executable>" --service, which is how it remembers the product's folder;
// interactive users may start it; StartServiceCtrlDispatcherW for the service's main). The POSIX
// layer has no such manager: every call reports that it is not supported.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace velmora::platform {

// The service's name and what the service manager shows for it.
inline constexpr char kUpdateServiceName[] = "VelmoraUpdate";
inline constexpr char kUpdateServiceDisplayName[] = "Velmora Update";

// Installs the service to run `executablePath` (GBK) with --service, or points the installed one
// at it. False with `error` set (for the log and standard output) when that failed; needs an
// administrator.
bool InstallUpdateService(const std::string& executablePath, std::string& error);

// Stops and removes the service. True when no service of that name is left (also when there was
// none); false with `error` set otherwise.
bool RemoveUpdateService(std::string& error);

// The executable the installed service runs (GBK); empty when no service is installed or it
// cannot be asked.
std::optional<std::string> UpdateServiceExecutable();

// Asks the service manager to start the service; true when it runs or was already running.
bool StartUpdateService(std::string& error);

// The service as the service manager sees it (QueryServiceStatusEx).
struct UpdateServiceStatus {
  bool known = false;           // the service manager answered
  bool stopped = false;
  std::uint32_t processId = 0;  // the service's process while it runs (or starts or stops); else 0
  std::uint32_t stopCode = 0;   // a stopped service's own exit code (0: none)
};
UpdateServiceStatus QueryUpdateServiceStatus();

// What the service's main runs. `stopRequested` turns true when the service manager asks the
// service to stop; the body should then end soon. The body's return ends the service, reported
// stopped with the code it returns (0: no error; anything else as the service's own exit code).
using ServiceBody = std::function<std::uint32_t(const std::atomic<bool>& stopRequested)>;

// Runs `body` as the service's main, connected to the service manager, and returns when it has
// ended and the service was reported stopped. False when the process was not started by the
// service manager (or the platform has none), without running `body`. Main thread only.
bool RunAsUpdateService(const ServiceBody& body);

// Ends the process with `exitCode` at once; in the service's process it first reports the service
// stopped, so that the service manager sees an orderly end. Does not return. Thread-safe.
[[noreturn]] void EndUpdateServiceProcess(std::uint32_t exitCode);

}  // namespace velmora::platform
