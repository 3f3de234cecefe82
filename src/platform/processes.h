// Processes: the program's own executable, finding processes by name and ending them.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::platform {

std::uint32_t CurrentProcessId();

// The full path of the running executable as GBK text ("C:\App\Updater.exe"); empty on failure.
std::string ExecutablePath();

// Terminates `processId` (0: the own process; the call then does not return) with `exitCode`.
// False when the process cannot be opened or terminated. The POSIX layer ends only its own
// process (with _exit) and reports false for any other. Thread-safe.
bool TerminateProcessWithCode(std::uint32_t processId, std::uint32_t exitCode);

// The id of the first process in the system's enumeration whose executable file name equals
// `exeFileName` (ignoring case), skipping `excludedProcessId` (0 skips none); 0 when none matches.
std::uint32_t FindProcessByName(const std::string& exeFileName, std::uint32_t excludedProcessId = 0);

}  // namespace velmora::platform
