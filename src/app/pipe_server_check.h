// Whether the server of \\.\pipe\VelmoraUpdate is the update service. The pipe's name is free
// whenever the service is not running (it starts on demand), and any program may create it
// first; such a program could answer a window with the rows and the end of an update that never
// happened. So before a client sends its request it checks the pipe's server: its process must be
// the one the service manager runs as VelmoraUpdate, and that process must have the service's
// user (LocalSystem). The decision is portable and takes the facts as values; the facts come
// from platform::MachineServices.
#pragma once

#include <cstdint>
#include <string>

#include "platform/machine_services.h"

namespace velmora::app {

// The code a service that could not make its pipe, because another program holds its name,
// stops with (its own exit code in the service manager): clients read it instead of waiting.
inline constexpr std::uint32_t kPipeNameTakenStop = 231;
// The code a service stops with when it refuses to serve because others than SYSTEM,
// Administrators and TrustedInstaller can change its program or a folder on its way.
inline constexpr std::uint32_t kUnsafeLocationStop = 232;

struct PipeServerFacts {
  std::uint32_t serverProcessId = 0;   // the pipe's server as the system reports it (0: unknown)
  std::uint32_t serviceProcessId = 0;  // the service's process as the service manager reports it (0: none)
  std::string serverUser;              // the server's user, a SID as text (empty: unknown)
  std::string serviceUser;             // the user the service's process has (empty: unknown)
};

// Empty when the facts show the update service; otherwise why not, for the log. Unknown facts
// never pass.
std::string WhyNotTheService(const PipeServerFacts& facts);

// Reads the facts about `connection`'s server through `services` and decides. On a refusal,
// `refusal` is a line for the log naming the server: its process id, image and user.
bool IsTheUpdateService(platform::PipeConnection& connection, platform::MachineServices& services,
                        std::string& refusal);

// "process 1234 (C:\x\y.exe, user S-1-5-21-...)" for the log; unknown parts say so.
std::string DescribeForLog(std::uint32_t processId, const platform::ProcessIdentity& identity);

}  // namespace velmora::app
