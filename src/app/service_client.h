// The updater's side of an update through the update service (app/update_route.h decides when):
// it asks the service to run, over its pipe, and shows what the service streams back as if its
// own workers did it. The window checks as always and shows the grid; its start button sends the
// request; the rows' cells, the counters and the end come from the service; the notices are the
// usual ones, and the window starts the product again in the user's session. A quiet run waits
// for the service's end and exits with its code; --rollback asks first, then lets the service
// restore the kept release.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "app/service_messages.h"
#include "platform/machine_services.h"
#include "platform/window.h"
#include "update/run_outcome.h"

namespace velmora::app {

// How a run through the service went from the client's side.
struct ServiceAnswer {
  bool finished = false;  // the service sent its end (in `end`)
  ServiceMessage end;
  std::string fault;      // why not, for the log
};

// Connects to the service (starting it when its pipe is not there, trying for at most about half
// a minute), makes sure the pipe's server is the service (app/pipe_server_check.h: any other
// server is disconnected before anything is sent, and `fault` names it), sends `request` (with
// `options`, when given) and applies each message as it comes: cells to the update window (rows
// the window does not list are left alone), counters to the program's counters, until the
// service's end or the connection's. A service that stopped because another program holds its
// pipe's name ends the wait at once. `stop` turns true when the caller gives up (checked at least
// once a second). Any thread.
ServiceAnswer RunThroughService(ServiceRequest request, const std::atomic<bool>& stop,
                                std::optional<std::uint8_t> options = std::nullopt,
                                platform::MachineServices& services = platform::CurrentMachineServices());

// The window's events when its update goes through the service.
platform::WindowEvents ServiceWindowEvents();

// A quiet run through the service, with --close-product and --run as in a quiet run here (the
// request carries the first; this run starts the product once the service has installed a
// release): returns the exit code of the service's run (failed, 4, when the service could not be
// reached or was not the service).
int RunQuietThroughService();

// Has the service finish (or undo) the commit an earlier run left unfinished (the window's
// commits go through it, and a run that cannot write the folder cannot finish one). Nothing when
// the folder now holds one release; otherwise the outcome to end with (deferred: files held, as
// the notice says; failed: the service could not be reached, or was not the service), logged.
std::optional<update::RunOutcome> FinishCommitThroughService();

// --rollback through the service: the same questions and notices as a rollback here. Returns 0.
int RunRollbackThroughService();

}  // namespace velmora::app
