// Runs another program (rclone) and collects its standard output: the arguments are passed as
// they are, without a shell, so that spaces and quotes in them reach the program unchanged.
#pragma once

#include <string>
#include <vector>

namespace velmora::release {

struct ProgramRun {
  bool started = false;  // false: the program could not be started (not found, not executable)
  int exitCode = -1;     // its exit status once it ended
  std::string output;    // its standard output; its standard error goes to this program's
};

// Runs `program` (found on the PATH when it names no folder) with `arguments` (UTF-8) and waits
// for it to end. Blocks; never throws.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace velmora::release
