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
// Per-machine installs (docs/managed.md), each alone on the command line:
//   --install-service / --remove-service   the update service, for the product's folder
//   --schedule / --unschedule              the background task "Velmora Update"
//   --service                              the update service's own start (by the service manager)
// and the marker of a copy started again elevated, which never asks for elevation again:
//   --elevated
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
inline constexpr char kInstallServiceOption[] = "--install-service";
inline constexpr char kRemoveServiceOption[] = "--remove-service";
inline constexpr char kScheduleOption[] = "--schedule";
inline constexpr char kUnscheduleOption[] = "--unschedule";
inline constexpr char kServiceOption[] = "--service";
inline constexpr char kElevatedOption[] = "--elevated";

struct CommandLine {
  bool rollback = false;
  bool handOff = false;  // --handoff, or an argument other than a reserved option
  bool quiet = false;
  bool check = false;
  bool closeProduct = false;
  bool run = false;
  bool installService = false;
  bool removeService = false;
  bool schedule = false;
  bool unschedule = false;
  bool service = false;   // started by the service manager as the update service
  bool elevated = false;  // this copy was started again elevated
  std::optional<std::string> channel;  // --channel's name
  // Empty when the options combine; otherwise why they do not (for the log and standard output).
  std::string usageError;

  // --install-service, --remove-service, --schedule or --unschedule.
  bool MachineCommand() const { return installService || removeService || schedule || unschedule; }
  // Neither the window nor a dialog is shown.
  bool Unattended() const { return quiet || check || service || MachineCommand(); }
};

// `arguments` excludes the program's own path.
CommandLine ReadCommandLine(const std::vector<std::string>& arguments);

// The arguments as one line for the log: each in double quotes, GBK turned into UTF-8.
std::string ArgumentsForLog(const std::vector<std::string>& arguments);

}  // namespace velmora::app
