#include "app/machine_commands.h"

#include <cstdint>

#include "app/program_location.h"
#include "app/task_definition.h"
#include "platform/random_bytes.h"
#include "platform/service_control.h"
#include "platform/standard_output.h"
#include "platform/task_scheduler.h"
#include "update/program_end.h"
#include "update/root_of_trust.h"
#include "update/run_directory.h"
#include "update/run_log.h"

namespace velmora::app {
namespace {

using update::RunOutcome;

int Report(bool done, const std::string& what, const std::string& error) {
  const std::string line = done ? what : what + " failed: " + error;
  platform::WriteStandardOutput(line + "\n");
  update::AppendToRunLog(update::RunDirectory(), line);
  const RunOutcome outcome = done ? RunOutcome::UpToDate : RunOutcome::MachineCommandFailed;
  const std::int32_t code = update::ExitCodeOf(outcome);
  update::AppendToRunLog(update::RunDirectory(), "exit: code " + std::to_string(code) + ", " +
                                                     (done ? "done" : update::DescriptionOf(outcome)));
  return code;
}

int InstallService(const std::string& executablePath) {
  // The service installs releases for every user of the machine without asking anyone: only a
  // build that checks releases against a root of trust may offer that.
  if (!update::BuiltInRoot()) {
    return Report(false, "install the update service",
                  "this build has no root of trust (no manifest key), so its service could install anything");
  }
  if (const std::string why = WhyNotSystemWorthy(executablePath); !why.empty()) {
    return Report(false, "install the update service", why);
  }
  std::string error;
  const bool done = platform::InstallUpdateService(executablePath, error);
  return Report(done, "install the update service", error);
}

int Schedule(const std::string& executablePath) {
  // The task runs the program as SYSTEM, as the service does.
  if (const std::string why = WhyNotSystemWorthy(executablePath); !why.empty()) {
    return Report(false, "schedule the background task", why);
  }
  std::uint32_t random = 0;
  if (!platform::FillRandomBytes(&random, sizeof random)) random = 0;
  TaskSchedule schedule;
  schedule.dailyMinute = DailyMinuteOf(random);
  std::string error;
  const bool done = platform::RegisterScheduledTask(kTaskName, TaskDefinitionXml(executablePath, schedule), error);
  return Report(done, "schedule the background task (daily at minute " + std::to_string(schedule.dailyMinute) + ")",
                error);
}

}  // namespace

int RunMachineCommand(const CommandLine& line, const std::string& executablePath) {
  std::string error;
  if (line.installService) return InstallService(executablePath);
  if (line.removeService) return Report(platform::RemoveUpdateService(error), "remove the update service", error);
  if (line.schedule) return Schedule(executablePath);
  return Report(platform::DeleteScheduledTask(kTaskName, error), "remove the background task", error);
}

}  // namespace velmora::app
