#include "download/product_health.h"

#include <memory>
#include <optional>
#include <string>

#include "download/completion.h"
#include "install/kept_release.h"
#include "install/locked_file_release.h"
#include "install/rollback.h"
#include "notify/task_notice.h"
#include "platform/clock.h"
#include "platform/shell.h"
#include "platform/thread.h"
#include "state/program_state.h"
#include "text/encoding.h"
#include "update/code_signing.h"
#include "update/health_check.h"
#include "update/program_end.h"
#include "update/run_directory.h"
#include "update/run_log.h"

namespace velmora::download {
namespace {

using update::RunOutcome;

void Log(const std::string& line) { update::AppendToRunLog(update::RunDirectory(), line); }

std::string Gbk(const char* utf8) { return text::Utf8ToNarrow(utf8); }

// Starts `product` (as RunElevated does, code-signing rule included) and watches it for `seconds`.
update::HealthResult StartAndWatch(const std::string& product, std::int32_t seconds) {
  std::unique_ptr<platform::StartedProcess> process;
  bool started = false;
  if (const std::string problem = update::LaunchProblem(product); !problem.empty()) {
    Log("not started " + text::NarrowToUtf8(product) + ": " + problem);
  } else {
    started = platform::RunElevatedWatched(product, "", process);
  }
  Log(std::string(started ? "started " : "could not start ") + text::NarrowToUtf8(product) +
      (started ? ", watched for " + std::to_string(seconds) + " s" : std::string()));
  return update::WatchStartedProduct(
      started, process.get(), seconds, [](std::uint32_t ms) { platform::WaitProcessingMessages(ms); },
      [] { return platform::TickCount(); });
}

[[noreturn]] void EndAfterFailedCheck(const RollbackRoute& rollBack) {
  const std::string runDirectory = update::RunDirectory();
  // The previous product is named by the kept release, which the rollback consumes.
  const std::optional<install::KeptRelease> kept = install::ReadKeptRelease(runDirectory);
  if (!kept) {
    Log("no previous release is kept: the new release stays");
    notify::ShowNotice(notify::kFailureNoticeKind, Gbk("更新失败"), Gbk("新版本无法正常启动，没有可恢复的版本"));
    update::EndProgram(RunOutcome::HealthCheckFailed);
  }
  if (!rollBack()) {
    Log("the previous release could not be put back: the new release stays");
    notify::ShowNotice(notify::kFailureNoticeKind, Gbk("更新失败"), Gbk("新版本无法正常启动，未能恢复上一版本"));
    update::EndProgram(RunOutcome::HealthCheckFailed);
  }
  Log("the previous release is back; the failed release is not offered again");
  if (!kept->launchTarget.empty()) {
    const std::string previous = runDirectory + "\\" + kept->launchTarget;
    const bool started = RunElevated(previous, "");
    Log(std::string(started ? "started " : "could not start ") + text::NarrowToUtf8(previous));
  }
  notify::ShowNotice(notify::kFailureNoticeKind, Gbk("更新已撤销"), Gbk("新版本无法正常启动，已恢复到上一版本"));
  update::EndProgram(RunOutcome::RolledBack);
}

}  // namespace

bool RollBackInPlace() {
  const std::string runDirectory = update::RunDirectory();
  const std::optional<install::KeptRelease> release = install::ReadKeptRelease(runDirectory);
  if (!release) return false;
  // The crashed product has ended; a copy it may have left running would hold its files. A quiet
  // run ends running copies only with --close-product (otherwise a held file fails the rollback).
  if (!release->launchTarget.empty() && state::State().mode.closeProduct) {
    install::ReleaseFile(release->launchTarget, runDirectory + "\\" + release->launchTarget);
  }
  const install::RollbackOutcome outcome = install::RollBackToKeptRelease(runDirectory, *release);
  return !outcome.keptReleaseDamaged && outcome.commit.committed;
}

void LaunchProduct(const RollbackRoute& rollBack) {
  const state::ProgramState& state = state::State();
  const std::string product = update::RunDirectory() + "\\" + state.launchTarget;
  const std::int32_t seconds = state.healthSeconds;
  if (seconds <= 0) {
    const bool started = RunElevated(product, "");
    Log(std::string(started ? "started " : "could not start ") + text::NarrowToUtf8(product));
    update::EndProgram(RunOutcome::Updated);
  }
  const update::HealthResult result = StartAndWatch(product, seconds);
  Log(update::HealthLine(result, seconds));
  if (update::FailsRelease(result.verdict)) EndAfterFailedCheck(rollBack);
  update::EndProgram(RunOutcome::Updated);
}

}  // namespace velmora::download
