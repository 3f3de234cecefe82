#include "update/program_end.h"

#include <cstdlib>
#include <string>

#include "state/process_control.h"
#include "state/program_state.h"
#include "update/run_directory.h"
#include "update/run_log.h"

namespace velmora::update {

std::int32_t ExitCodeFor(RunOutcome outcome) {
  const state::RunMode& mode = state::State().mode;
  return mode.quiet || mode.checkOnly ? ExitCodeOf(outcome) : 0;
}

std::int32_t FinishRun(RunOutcome outcome) {
  const std::int32_t code = ExitCodeFor(outcome);
  AppendToRunLog(RunDirectory(), "exit: code " + std::to_string(code) + ", " + DescriptionOf(outcome));
  return code;
}

void EndProgram(RunOutcome outcome) {
  const std::int32_t code = FinishRun(outcome);
  state::TerminateProcessById(0, static_cast<std::uint32_t>(code));
  std::exit(code);
}

}  // namespace velmora::update
