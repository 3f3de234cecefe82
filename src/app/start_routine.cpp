#include "app/start_routine.h"

#include "state/program_state.h"
#include "app/command_line.h"
#include "app/rollback_command.h"
#include "app/single_instance.h"
#include "app/start_recovery.h"
#include "app/window_events.h"
#include "update/update_window.h"

namespace velmora::app {

std::string InstanceName(const std::string& executablePath) {
  return DirectoryOf(executablePath) + FileNameOf(executablePath);
}

int StartRoutine(const std::vector<std::string>& arguments, platform::InstanceServices& system,
                 const ShowWindowFunction& showWindow) {
  std::string instanceName = InstanceName(system.ExecutablePath());
  GuardOptions options;
  options.activateExisting = true;
  SingleInstanceGuard(instanceName, options, system);

  // Before anything looks at the product's folder, it is made wholly one release again.
  if (!FinishInterruptedCommit()) return 0;
  const CommandLine commandLine = ReadCommandLine(arguments);
  if (commandLine.rollback) return RunRollback();
  // Any other argument means the product left a hand-off file.
  state::State().fetchFromServer = !commandLine.handOff;

  showWindow(update::UpdateWindowDesign(), UpdateWindowEvents());
  return 0;
}

void ExitCleanup() { state::ResetState(); }

}  // namespace velmora::app
