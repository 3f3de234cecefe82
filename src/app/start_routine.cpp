#include "app/start_routine.h"

#include <optional>

#include "app/command_line.h"
#include "app/machine_commands.h"
#include "app/program_location.h"
#include "app/rollback_command.h"
#include "app/service_client.h"
#include "app/single_instance.h"
#include "app/start_recovery.h"
#include "app/unattended_run.h"
#include "app/update_route.h"
#include "app/update_service.h"
#include "app/window_events.h"
#include "notify/task_notice.h"
#include "platform/file_security.h"
#include "platform/policy.h"
#include "platform/standard_output.h"
#include "platform/thread.h"
#include "state/program_state.h"
#include "text/encoding.h"
#include "update/channel.h"
#include "update/origin.h"
#include "update/program_end.h"
#include "update/run_directory.h"
#include "update/run_log.h"
#include "update/update_window.h"

#ifndef VELMORA_VERSION
#define VELMORA_VERSION "0.0.0"
#endif

namespace velmora::app {
namespace {

// A copy started again elevated waits for the copy that started it to end, at most this many
// looks kEarlierCopyLookMs apart.
constexpr int kEarlierCopyLooks = 100;
constexpr std::uint32_t kEarlierCopyLookMs = 100;

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
  if (line.service) return "service";
  if (line.MachineCommand()) return "machine command";
  if (line.rollback) return "rollback";
  if (line.check) return "check";
  return line.quiet ? "quiet" : "window";
}

void LogStart(const CommandLine& line, const std::vector<std::string>& arguments) {
  update::AppendToRunLog(update::RunDirectory(), std::string("start: version ") + VELMORA_VERSION + ", mode " +
                                                     ModeName(line) + ", arguments " + ArgumentsForLog(arguments));
}

// Ends a run whose options (or the policy's channel) are not usable, with the usage error code
// whatever the mode: a script learns of its mistake at once.
int RefuseUsage(const std::string& reason) {
  platform::WriteStandardOutput("usage error: " + reason + " (docs/managed.md lists the options)\n");
  update::AppendToRunLog(update::RunDirectory(), "usage error: " + reason);
  const std::int32_t code = update::ExitCodeOf(RunOutcome::UsageError);
  update::AppendToRunLog(update::RunDirectory(), "exit: code " + std::to_string(code) + ", usage error");
  return code;
}

// Ends a run as SYSTEM (the background task) of a program that others can change: SYSTEM would
// run their code.
int RefuseSystemRun(const std::string& why) {
  const std::string line = "refused to run as SYSTEM: " + why;
  platform::WriteStandardOutput(line + "\n");
  update::AppendToRunLog(update::RunDirectory(), line);
  const std::int32_t code = update::ExitCodeOf(RunOutcome::MachineCommandFailed);
  update::AppendToRunLog(update::RunDirectory(), "exit: code " + std::to_string(code) + ", refused to run as SYSTEM");
  return code;
}

// Follows the channel the policy, the command line or the remembered choice names
// (update/channel.h); returns why it cannot (no channel name), or empty.
std::string FollowChosenChannel(const platform::UpdatePolicy& policy, const CommandLine& line) {
  const update::ChannelChoice choice = update::ChooseChannel(policy.channel, line.channel, update::RunDirectory());
  if (!choice.error.empty()) return choice.error;
  state::State().channel = choice.channel;
  if (!choice.channel.empty() || choice.source != "default") {
    update::AppendToRunLog(update::RunDirectory(), "channel: " + (choice.channel.empty() ? std::string("default")
                                                                                         : choice.channel) +
                                                       " (" + choice.source + ")");
  }
  return {};
}

// What the update service does before each request: the same steps as the start of any run. The
// journal an interrupted commit left is finished (or undone) before anything else, whatever the
// request.
std::optional<RunOutcome> PrepareServiceRun(ServiceRequest request, std::int32_t& heldFiles) {
  heldFiles = static_cast<std::int32_t>(RecoverCommitHere());
  if (heldFiles != 0) return RunOutcome::Deferred;
  if (request == ServiceRequest::FinishCommit) return std::nullopt;
  const platform::UpdatePolicy policy = platform::ReadUpdatePolicy();
  if (policy.disableUpdates.value_or(0) == 1) {
    update::AppendToRunLog(update::RunDirectory(), "updates are disabled by the administrator's policy");
    return RunOutcome::DisabledByPolicy;
  }
  if (!FollowChosenChannel(policy, CommandLine{}).empty()) return RunOutcome::UsageError;
  return std::nullopt;
}

// The copy that started this one elevated may not have ended yet; its guard must go first.
void WaitForEarlierCopy(const std::string& instanceName, platform::InstanceServices& system) {
  const std::string objectName = EventObjectName(instanceName);
  for (int i = 0; i < kEarlierCopyLooks && system.NamedEventExists(objectName); ++i) {
    platform::WaitProcessingMessages(kEarlierCopyLookMs);
  }
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
  if (!commandLine.usageError.empty()) return RefuseUsage(commandLine.usageError);
  // The installer's commands and the service's own start take no guard: the service runs beside
  // the window that asks it to update.
  if (commandLine.MachineCommand()) return RunMachineCommand(commandLine, system.ExecutablePath());
  if (commandLine.service) return RunUpdateService(PrepareServiceRun);
  if (platform::RunsAsLocalSystem()) {
    if (const std::string why = WhyNotSystemWorthy(system.ExecutablePath()); !why.empty()) return RefuseSystemRun(why);
  }

  std::string instanceName = InstanceName(system.ExecutablePath());
  if (commandLine.elevated) WaitForEarlierCopy(instanceName, system);
  GuardOptions options;
  // A copy with the window brings the running one's window forward; an unattended one just ends.
  options.activateExisting = !commandLine.Unattended();
  options.exitCode = static_cast<std::uint32_t>(update::ExitCodeFor(RunOutcome::AlreadyRunning));
  options.beforeExit = [] { update::FinishRun(RunOutcome::AlreadyRunning); };
  SingleInstanceGuard(instanceName, options, system);

  // Before anything looks at the product's folder, it is made wholly one release again: here, or,
  // where the update would not go here (a folder this run cannot write, the window with the
  // service), the way the update would go.
  std::optional<UpdateRoute> route;
  if (!commandLine.check && CommitWasInterrupted()) {
    update::AppendToRunLog(update::RunDirectory(), "recovery: an earlier commit was interrupted");
    route = ChooseUpdateRoute(!commandLine.quiet, commandLine.elevated, update::RunDirectory(),
                              system.ExecutablePath(), arguments);
    if (route == UpdateRoute::ThroughService) {
      if (const std::optional<RunOutcome> failed = FinishCommitThroughService()) return update::FinishRun(*failed);
    }
  }
  if (route == UpdateRoute::StartedElevated) {
    update::AppendToRunLog(update::RunDirectory(), "exit: code 0, the elevated copy goes on");
    return 0;
  }
  if (route == UpdateRoute::NeedsElevation) return update::FinishRun(RunOutcome::NeedsElevation);
  if (!FinishInterruptedCommit()) return update::FinishRun(RunOutcome::Deferred);
  const platform::UpdatePolicy policy = platform::ReadUpdatePolicy();
  if (policy.disableUpdates.value_or(0) == 1) {
    update::AppendToRunLog(update::RunDirectory(), "updates are disabled by the administrator's policy");
    notify::ShowNotice(notify::kFailureNoticeKind, text::Utf8ToNarrow("更新已被管理员禁用"), std::string());
    return update::FinishRun(RunOutcome::DisabledByPolicy);
  }
  if (!commandLine.rollback) {
    if (const std::string error = FollowChosenChannel(policy, commandLine); !error.empty()) return RefuseUsage(error);
    if (const std::string error = update::FollowPolicyOrigin(policy.origin); !error.empty()) return RefuseUsage(error);
  }
  // Any other argument means the product left a hand-off file.
  state::State().fetchFromServer = !commandLine.handOff;
  if (commandLine.check) return RunCheckOnly();

  if (!route) {
    route = ChooseUpdateRoute(!commandLine.quiet, commandLine.elevated, update::RunDirectory(),
                              system.ExecutablePath(), arguments);
  }
  if (route == UpdateRoute::StartedElevated) {
    update::AppendToRunLog(update::RunDirectory(), "exit: code 0, the elevated copy goes on");
    return 0;
  }
  if (route == UpdateRoute::NeedsElevation) return update::FinishRun(RunOutcome::NeedsElevation);
  const bool throughService = route == UpdateRoute::ThroughService;
  if (commandLine.rollback) {
    const int code = throughService ? RunRollbackThroughService() : RunRollback();
    update::AppendToRunLog(update::RunDirectory(), "exit: code " + std::to_string(code) + ", rollback ended");
    return code;
  }
  if (commandLine.quiet) return throughService ? RunQuietThroughService() : RunQuiet();

  showWindow(update::UpdateWindowDesign(), throughService ? ServiceWindowEvents() : UpdateWindowEvents());
  update::AppendToRunLog(update::RunDirectory(), "exit: code 0, the window was closed");
  return 0;
}

void ExitCleanup() { state::ResetState(); }

}  // namespace velmora::app
