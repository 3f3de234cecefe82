// Linux has no service manager, no named pipes of this kind and no task scheduler for the
// program: every call here answers "not supported", and the service's main never runs.
#include <cstdlib>

#include "platform/service_control.h"
#include "platform/service_pipe.h"
#include "platform/task_scheduler.h"

namespace velmora::platform {
namespace {

constexpr char kNotSupported[] = "not supported on this system";

}  // namespace

bool InstallUpdateService(const std::string&, std::string& error) {
  error = kNotSupported;
  return false;
}

bool RemoveUpdateService(std::string& error) {
  error = kNotSupported;
  return false;
}

std::optional<std::string> UpdateServiceExecutable() { return std::nullopt; }

bool StartUpdateService(std::string& error) {
  error = kNotSupported;
  return false;
}

UpdateServiceStatus QueryUpdateServiceStatus() { return {}; }

bool RunAsUpdateService(const ServiceBody&) { return false; }

void EndUpdateServiceProcess(std::uint32_t exitCode) { std::_Exit(static_cast<int>(exitCode)); }

PipeListening AcceptPipeClient(std::uint32_t) { return {}; }

std::unique_ptr<PipeConnection> ConnectToServicePipe(std::uint32_t) { return nullptr; }

bool RegisterScheduledTask(const std::u16string&, const std::u16string&, std::string& error) {
  error = kNotSupported;
  return false;
}

bool DeleteScheduledTask(const std::u16string&, std::string& error) {
  error = kNotSupported;
  return false;
}

bool ScheduledTaskExists(const std::u16string&) { return false; }

}  // namespace velmora::platform
