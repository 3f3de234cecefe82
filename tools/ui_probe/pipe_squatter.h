// ui-probe pipe-squat: a program that makes the update service's pipe before the service does,
// as any user's program could, for the end-to-end tests of the clients' and the service's checks.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::probe {

// Creates \\.\pipe\VelmoraUpdate (open to everyone, any number of instances) and holds it until
// `stopFile` exists or `waitMs` pass. Each client is answered at once with the end of an update
// that "succeeded" (exit code 0, installed), then disconnected. Prints {"squatting", "pid"} once
// the pipe exists and {"ok", "clients", "requestBytes"} at the end; returns 0 (1 when the pipe
// could not be made).
int SquatServicePipe(const std::string& stopFile, std::uint32_t waitMs);

}  // namespace velmora::probe
