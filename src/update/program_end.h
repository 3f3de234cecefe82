// How the program ends once a run has its outcome: after its notice with the window, at once when
// quiet.
#pragma once

#include <cstdint>

#include "update/run_outcome.h"

namespace velmora::update {

// The exit code of a run that ended so: the outcome's own code in a quiet or --check run, 0 with
// the window (which has always ended with 0).
std::int32_t ExitCodeFor(RunOutcome outcome);

// Logs the outcome and its exit code, then ends the process at once with that code
// (state::TerminateProcessById(0, code)); should termination fail, the process exits normally with it.
// Never returns; a test that replaces the process termination makes its replacement throw to get
// control back.
[[noreturn]] void EndProgram(RunOutcome outcome);

// Logs the outcome and returns its exit code, for a run that ends by returning from the start
// routine. A quiet run also writes the outcome's description as one line to standard output.
std::int32_t FinishRun(RunOutcome outcome);

}  // namespace velmora::update
