// The start sequence: program-wide state, exit clean-up, single-instance guard, the window.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/instance.h"
#include "platform/window.h"

namespace velmora::app {

// Shows the window modally; returns when it has been closed (false: it could not be created).
using ShowWindowFunction = std::function<bool(const platform::WindowDesign&, const platform::WindowEvents&)>;

// The instance name: the run directory (the executable's directory, no trailing backslash)
// followed directly by the executable's file name: "C:\App\Updater.exe" gives "C:\AppUpdater.exe".
std::string InstanceName(const std::string& executablePath);

// Reads the command line (app/command_line.h; options that do not combine end the run at once with
// the usage error code) and starts the run's log. An installer's command (app/machine_commands.h)
// or the update service (app/update_service.h) runs then, without a guard. Otherwise it guards
// against a second copy (which ends here, after bringing the first copy's window to the front, or
// at once when unattended; a copy started again elevated first waits for the one that started it),
// finishes a commit that an earlier run left unfinished (app/start_recovery.h; except for --check,
// the way an update would go: here, through the update service, or in the copy started again
// elevated; when it cannot be finished the run ends there), stops when the administrator's policy disables updates, sets
// FetchFromServer from the arguments (none: fetch from the server; --handoff or any other than a
// reserved option: read the hand-off file) and runs --check. Any other run first takes its route
// (app/update_route.h: here, through the update service, or started again elevated) and then
// restores the previous release (--rollback, app/rollback_command.h), runs --quiet
// (app/unattended_run.h) or shows the update window until it is closed, here or through the
// service (app/service_client.h). `arguments` exclude the program's path.
// Returns the exit code (docs/managed.md; always 0 with the window); a window that cannot be
// created is not an error. Main thread only.
int StartRoutine(const std::vector<std::string>& arguments,
                 platform::InstanceServices& system = platform::PlatformInstanceServices(),
                 const ShowWindowFunction& showWindow = platform::ShowModalWindow);

// Frees the program-wide lists and texts; runs when the program ends normally (not when it is
// terminated). Thread handles are left open.
void ExitCleanup();

}  // namespace velmora::app
