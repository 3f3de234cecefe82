#include "app/window_events.h"

#include "state/program_state.h"
#include "platform/thread.h"
#include "update/update_check.h"

namespace velmora::app {

void OnWindowCreated(platform::WindowHandle /*window*/) {
  state::State().checkThread = platform::StartThread([] { update::UpdateCheck(); });
}

void StopThreads() {
  state::ProgramState& state = state::State();
  for (const state::TaskRecord& record : state.taskList) {
    if (record.workerThread != 0) platform::ForceTerminateThread(record.workerThread);
  }
  if (state.checkThread != 0) platform::ForceTerminateThread(state.checkThread);
}

platform::WindowEvents UpdateWindowEvents() {
  platform::WindowEvents events;
  events.created = OnWindowCreated;
  events.destroying = StopThreads;
  // The start button and the completion timer do nothing until the downloads handle them.
  events.buttonClicked = [] {};
  events.timerTick = [] {};
  return events;
}

}  // namespace velmora::app
