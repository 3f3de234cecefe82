// What a product's installer calls, elevated, from the product's folder (docs/managed.md,
// "Per-machine installs"): --install-service and --remove-service for the update service,
// --schedule and --unschedule for the background task. Each writes one line to standard output
// and the log and returns 0, or 27 when it could not be done (the line says why). No window, no
// dialog.
#pragma once

#include <string>

#include "app/command_line.h"

namespace velmora::app {

// Runs the command `line` names for the updater at `executablePath`.
int RunMachineCommand(const CommandLine& line, const std::string& executablePath);

}  // namespace velmora::app
