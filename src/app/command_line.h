// What the command line asks for. Any argument means "read the hand-off file" (the product starts
// the updater with one), except the reserved options below, which are whole arguments:
//   --rollback   restore the kept previous release instead of updating
// An unknown "--word" is an argument like any other: it still selects the hand-off file.
#pragma once

#include <string>
#include <vector>

namespace velmora::app {

inline constexpr char kRollbackOption[] = "--rollback";

struct CommandLine {
  bool rollback = false;
  bool handOff = false;  // an argument other than a reserved option was given
};

// `arguments` excludes the program's own path.
CommandLine ReadCommandLine(const std::vector<std::string>& arguments);

}  // namespace velmora::app
