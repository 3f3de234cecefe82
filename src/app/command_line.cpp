#include "app/command_line.h"

namespace velmora::app {

CommandLine ReadCommandLine(const std::vector<std::string>& arguments) {
  CommandLine line;
  for (const std::string& argument : arguments) {
    if (argument == kRollbackOption) {
      line.rollback = true;
    } else {
      line.handOff = true;
    }
  }
  return line;
}

}  // namespace velmora::app
