// Who a process is: its executable and the user its token names. The update service's pipe is
// trusted only when its server is the service's own process running as the service's account
// (app/pipe_server_check.h), and the service logs which process asked it to act.
//
// Windows: QueryFullProcessImageNameW and the token's user (OpenProcess, OpenProcessToken,
// GetTokenInformation(TokenUser)); a standard user may not open the token of a LocalSystem
// process, so the user is then taken from the terminal services' list of processes
// (WTSEnumerateProcessesW), which names every process's user to every user. The POSIX layer knows
// no such processes: everything is empty.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::platform {

struct ProcessIdentity {
  std::string imagePath;  // GBK; empty when it could not be read
  std::string user;       // the user's SID as text ("S-1-5-18"); empty when it could not be read
};

// What the system says about `processId` (0, or a process that is gone: both empty). Thread-safe.
ProcessIdentity DescribeProcess(std::uint32_t processId);

// The user that a process of the update service (LocalSystem) has: "S-1-5-18" on Windows; empty
// where there is no service. (Wine gives every process the token of its one user,
// S-1-5-21-0-0-0-1000 here, the service's process too: only the test programs, which trust that
// account, accept it; app/outside_writers.h.) Thread-safe.
std::string ServiceAccountUser();

}  // namespace velmora::platform
