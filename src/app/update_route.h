// Which way an update (or a rollback) of this installation goes, decided after the recovery and
// before the check (docs/managed.md, "Per-machine installs"):
//   - with the window (or --rollback) and the update service installed for this copy of the
//     updater: through the service, whoever the user is;
//   - the product's folder can be written (a file made and removed under Bin\Config\): here;
//   - it cannot, and the service serves this copy: through the service;
//   - it cannot, in a quiet run, or in a copy already started again elevated: the run ends as
//     "needs elevation" (quiet: exit code 26; with the window: the notice "更新失败" /
//     "需要管理员权限才能更新");
//   - otherwise the updater starts itself again elevated with the same arguments and the marker
//     --elevated, once, and this copy ends; when the user declines, the same notice and end.
// --check only reads and never asks. A commit an earlier run left unfinished takes the same route
// before the check (app/start_routine.h).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/machine_services.h"

namespace velmora::app {

enum class UpdateRoute { Here, ThroughService, StartedElevated, NeedsElevation };

struct RouteFacts {
  bool withWindow = false;      // the window or --rollback: a person is at the screen
  bool canWrite = false;        // the product's folder can be written
  bool serviceInstalled = false;
  bool alreadyElevated = false;  // the marker argument: this copy was started elevated already
};

// The route for these facts, without asking the system anything (the elevated start aside).
UpdateRoute RouteFor(const RouteFacts& facts);

// Looks at the system through `services` and, where the route says so, starts the updater at
// `executablePath` again elevated with `arguments` and the marker. `runDirectory` is the
// product's folder (its Bin\Config is made when missing). With the window the "needs elevation"
// route shows its notice here. Logs the route and what came of it.
UpdateRoute ChooseUpdateRoute(bool withWindow, bool alreadyElevated, const std::string& runDirectory,
                              const std::string& executablePath, const std::vector<std::string>& arguments,
                              platform::MachineServices& services = platform::CurrentMachineServices());

// The arguments for a copy started again: each quoted as the command line's parser reads it back
// (backslashes before a quote doubled), followed by the marker.
std::string ElevatedParameters(const std::vector<std::string>& arguments);

}  // namespace velmora::app
