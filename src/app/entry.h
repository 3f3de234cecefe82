// The program's entry, called by the platform's main function.
#pragma once

#include <string>
#include <vector>

namespace velmora::app {

// Runs the updater; returns the process exit code. `arguments` are the command-line arguments
// after the program name, as GBK text (app/command_line.h says what they mean).
int Entry(const std::vector<std::string>& arguments);

}  // namespace velmora::app
