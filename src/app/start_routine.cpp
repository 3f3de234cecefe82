#include "app/start_routine.h"

#include "app/command_line.h"
#include "app/rollback_command.h"
#include "app/single_instance.h"
#include "app/start_recovery.h"
#include "app/unattended_run.h"
#include "app/window_events.h"
#include "notify/task_notice.h"
#include "platform/policy.h"
#include "platform/standard_output.h"
#include "state/program_state.h"
#include "text/encoding.h"
#include "update/program_end.h"
#include "update/run_directory.h"
#include "update/run_log.h"
#include "update/update_window.h"

#ifndef VELMORA_VERSION
#define VELMORA_VERSION "0.0.0"
#endif

namespace velmora::app {
namespace {

constexpr std::int32_t kFailureNoticeKind = 2;

using update::RunOutcome;

state::RunMode RunModeOf(const CommandLine& line) {
  state::RunMode mode;
  mode.quiet = line.quiet;
  mode.checkOnly = line.check;
  // With the window the product is ended as it always was; a quiet run ends it only when asked.
  mode.closeProduct = !line.Unattended() || line.closeProduct;
  mode.runProduct = line.run;
  return mode;
}

const char* ModeName(const CommandLine& line) {
  if (line.rollback) return "rollback";
  if (line.check) return "check";
  return line.quiet ? "quiet" : "window";
}

void LogStart(const CommandLine& line, const std::vector<std::string>& arguments) {
  update::AppendToRunLog(update::RunDirectory(), std::string("start: version ") + VELMORA_VERSION + ", mode " +
                                                     ModeName(line) + ", arguments " + ArgumentsForLog(arguments));
}

// Refused before anything is looked at, whatever the mode: a script learns of its mistake at once.
int RefuseUsage(const CommandLine& line) {
  platform::WriteStandardOutput("usage error: " + line.usageError + " (docs/managed.md lists the options)\n");
  update::AppendToRunLog(update::RunDirectory(), "usage error: " + line.usageError);
  const std::int32_t code = update::ExitCodeOf(RunOutcome::UsageError);
  update::AppendToRunLog(update::RunDirectory(), "exit: code " + std::to_string(code) + ", usage error");
  return code;
}

bool DisabledByPolicy() {
  const platform::UpdatePolicy policy = platform::ReadUpdatePolicy();
  return policy.disableUpdates.value_or(0) == 1;
}

}  // namespace

std::string InstanceName(const std::string& executablePath) {
  return DirectoryOf(executablePath) + FileNameOf(executablePath);
}

int StartRoutine(const std::vector<std::string>& arguments, platform::InstanceServices& system,
                 const ShowWindowFunction& showWindow) {
  const CommandLine commandLine = ReadCommandLine(arguments);
  state::State().mode = RunModeOf(commandLine);
  update::BeginRunLog();
  LogStart(commandLine, arguments);
  if (!commandLine.usageError.empty()) return RefuseUsage(commandLine);

  std::string instanceName = InstanceName(system.ExecutablePath());
  GuardOptions options;
  // A copy with the window brings the running one's window forward; an unattended one just ends.
  options.activateExisting = !commandLine.Unattended();
  options.exitCode = static_cast<std::uint32_t>(update::ExitCodeFor(RunOutcome::AlreadyRunning));
  options.beforeExit = [] { update::FinishRun(RunOutcome::AlreadyRunning); };
  SingleInstanceGuard(instanceName, options, system);

  // Before anything looks at the product's folder, it is made wholly one release again.
  if (!FinishInterruptedCommit()) return update::FinishRun(RunOutcome::Deferred);
  if (DisabledByPolicy()) {
    update::AppendToRunLog(update::RunDirectory(), "updates are disabled by the administrator's policy");
    notify::ShowNotice(kFailureNoticeKind, text::Utf8ToNarrow("更新已被管理员禁用"), std::string());
    return update::FinishRun(RunOutcome::DisabledByPolicy);
  }
  if (commandLine.rollback) {
    const int code = RunRollback();
    update::AppendToRunLog(update::RunDirectory(), "exit: code " + std::to_string(code) + ", rollback ended");
    return code;
  }
  // Any other argument means the product left a hand-off file.
  state::State().fetchFromServer = !commandLine.handOff;
  if (commandLine.check) return RunCheckOnly();
  if (commandLine.quiet) return RunQuiet();

  showWindow(update::UpdateWindowDesign(), UpdateWindowEvents());
  update::AppendToRunLog(update::RunDirectory(), "exit: code 0, the window was closed");
  return 0;
}

void ExitCleanup() { state::ResetState(); }

}  // namespace velmora::app
