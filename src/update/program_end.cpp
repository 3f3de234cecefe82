#include "update/program_end.h"

#include <cstdlib>
#include <string>

#include "platform/standard_output.h"
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
  // A quiet run that installed the release and one that found it current both end with 0; the
  // line says which ("updated", "up to date"). A check has printed its own line.
  const state::RunMode& mode = state::State().mode;
  if (mode.quiet && !mode.checkOnly) platform::WriteStandardOutput(std::string(DescriptionOf(outcome)) + "\n");
  AppendToRunLog(RunDirectory(), "exit: code " + std::to_string(code) + ", " + DescriptionOf(outcome));
  return code;
}

void EndProgram(RunOutcome outcome) {
  const std::int32_t code = FinishRun(outcome);
  state::TerminateProcessById(0, static_cast<std::uint32_t>(code));
  std::exit(code);
}

}  // namespace velmora::update
