// Ending processes: the way every fatal path of the program ends.
#pragma once

#include <cstdint>

namespace velmora::state {

// Terminates the process `processId` with `exitCode`; 0 means the program's own process, and then
// the call does not return (unless termination fails). Returns false when the process cannot be
// opened or terminated. Thread-safe.
bool TerminateProcessById(std::uint32_t processId, std::uint32_t exitCode = 0);

// Tests: `terminate` is called instead of the platform's termination (so that a test survives a
// code path that ends the program); null restores the platform's. Thread-safe.
using TerminateFunction = bool (*)(std::uint32_t processId, std::uint32_t exitCode);
void ReplaceProcessTermination(TerminateFunction terminate);

}  // namespace velmora::state
