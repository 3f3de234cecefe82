// What the command line asks for. Any argument means "read the hand-off file" (the product starts
// the updater with one), except the reserved options below, which are whole arguments
// (docs/managed.md):
//   --handoff        read the hand-off file (explicitly)
//   --quiet          no window and no dialog; the exit code tells what happened
//   --check          only the update check; one line on standard output, and the exit code
//   --close-product  with --quiet: end running copies of the product that hold the release's files
//   --run            with --quiet: start the product after a successful update
//   --rollback       restore the kept previous release instead of updating
//   --channel NAME   follow the channel NAME from now on (docs/rollouts.md; "default": the default)
// An unknown "--word" is an argument like any other: it still selects the hand-off file.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velmora::app {

inline constexpr char kRollbackOption[] = "--rollback";
inline constexpr char kHandOffOption[] = "--handoff";
inline constexpr char kQuietOption[] = "--quiet";
inline constexpr char kCheckOption[] = "--check";
inline constexpr char kCloseProductOption[] = "--close-product";
inline constexpr char kRunOption[] = "--run";
inline constexpr char kChannelOption[] = "--channel";

struct CommandLine {
  bool rollback = false;
  bool handOff = false;  // --handoff, or an argument other than a reserved option
  bool quiet = false;
  bool check = false;
  bool closeProduct = false;
  bool run = false;
  std::optional<std::string> channel;  // --channel's name
  // Empty when the options combine; otherwise why they do not (for the log and standard output).
  std::string usageError;

  // Neither the window nor a dialog is shown.
  bool Unattended() const { return quiet || check; }
};

// `arguments` excludes the program's own path.
CommandLine ReadCommandLine(const std::vector<std::string>& arguments);

// The arguments as one line for the log: each in double quotes, GBK turned into UTF-8.
std::string ArgumentsForLog(const std::vector<std::string>& arguments);

}  // namespace velmora::app
