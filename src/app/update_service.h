// The update service's side (velmora-update.exe --service, started by the service manager as
// LocalSystem): it waits for one client on the pipe (platform/service_pipe.h), at most about a
// minute, takes its request (app/service_messages.h) and runs it exactly as a quiet run does
// (its own manifest from the build's address and channel, the downloads, the checks, the commit,
// ending the product's processes that hold files), streaming each row's cells and the counters
// back and ending with the outcome. Then the service ends; the next client starts it again.
//
// It trusts nothing from a client but the request: no manifest, hand-off file, path, address or
// channel reaches it. A client that sends anything else, or nothing within a few seconds, is
// disconnected and changes nothing; the service then waits for the next one. Each request is
// logged with the client's process id, image and user. When another program holds the pipe's
// name the service logs that program and stops with kPipeNameTakenStop (app/pipe_server_check.h).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "app/service_messages.h"
#include "platform/service_pipe.h"
#include "update/run_outcome.h"

namespace velmora::app {

// What runs before a request is served: the recovery of an interrupted commit (for every request;
// `heldFiles` set to the files that keep it waiting), then, for an update or a rollback, the
// policy and the channel. An outcome to answer instead of running the request, or nothing.
using RunPreparation = std::function<std::optional<update::RunOutcome>(ServiceRequest request, std::int32_t& heldFiles)>;

// The service's main (through platform::RunAsUpdateService). Returns the process's exit code;
// the usage error code when the process was not started by the service manager.
int RunUpdateService(const RunPreparation& prepare);

// Reads one request from `connection`, waiting at most a few seconds in all; nothing, with `why`
// set, for anything else (garbage, an unknown request, silence, a closed pipe).
std::optional<ServiceMessage> ReadServiceRequest(platform::PipeConnection& connection, std::string& why);

}  // namespace velmora::app
