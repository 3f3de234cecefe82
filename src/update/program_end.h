// How the update check ends the program when there is nothing it can do (after its notice).
#pragma once

namespace velmora::update {

// Ends the process at once with exit code 0 (state::TerminateProcessById(0)); should termination fail,
// the process exits normally with code 0 instead. Never returns; a test that replaces the process
// termination makes its replacement throw to get control back.
[[noreturn]] void EndProgram();

}  // namespace velmora::update
