#include "app/start_routine.h"

#include "state/program_state.h"
#include "app/single_instance.h"
#include "app/window_events.h"
#include "update/update_window.h"

namespace velmora::app {

std::string InstanceName(const std::string& executablePath) {
  return DirectoryOf(executablePath) + FileNameOf(executablePath);
}

int StartRoutine(int argumentCount, platform::InstanceServices& system, const ShowWindowFunction& showWindow) {
  std::string instanceName = InstanceName(system.ExecutablePath());
  GuardOptions options;
  options.activateExisting = true;
  SingleInstanceGuard(instanceName, options, system);

  // Only the number of arguments matters: any argument means the product left a hand-off file.
  state::State().fetchFromServer = argumentCount < 1;

  showWindow(update::UpdateWindowDesign(), UpdateWindowEvents());
  return 0;
}

void ExitCleanup() { state::ResetState(); }

}  // namespace velmora::app
