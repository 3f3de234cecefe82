// The program's entry, called by the platform's main function.
#pragma once

namespace velmora::app {

// Runs the updater; returns the process exit code. `argumentCount` is the number of
// command-line arguments after the program name: only the number matters.
int Entry(int argumentCount);

}  // namespace velmora::app
