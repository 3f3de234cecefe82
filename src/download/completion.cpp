#include "download/completion.h"

#include <algorithm>
#include <string>
#include <vector>

#include "download/product_health.h"
#include "download/progress.h"
#include "download/scheduler.h"
#include "download/staged_file_flush.h"
#include "install/release_install.h"
#include "notify/task_notice.h"
#include "platform/shell.h"
#include "platform/update_window.h"
#include "state/program_state.h"
#include "text/encoding.h"
#include "update/code_signing.h"
#include "update/program_end.h"
#include "update/run_directory.h"
#include "update/run_log.h"
#include "update/staging_files.h"

namespace velmora::download {
namespace {

using update::RunOutcome;

// Bytes that have arrived through every row's task so far; read each tick.
std::int64_t ArrivedBytes(const state::ProgramState& state) {
  std::int64_t total = 0;
  for (const state::TaskRecord& record : state.taskList) total += record.task.ArrivedBytes();
  return total;
}

void StopTimer(const char* captionUtf8) {
  platform::UpdateWindow& window = platform::CurrentUpdateWindow();
  window.SetTimerInterval(0);
  if (captionUtf8 != nullptr) window.SetButtonCaption(text::Utf8ToNarrow(captionUtf8));
}

// Every row has its verified staging file: the whole release goes in, or none of it. Returns how
// many rows could not be put in place (their status says so; nothing was installed then).
std::int32_t CommitRelease(state::ProgramState& state) {
  const install::CommitOutcome outcome = install::InstallStagedRelease(update::RunDirectory(), state);
  if (outcome.committed) return 0;
  platform::UpdateWindow& window = platform::CurrentUpdateWindow();
  for (const std::size_t index : outcome.failed) {
    window.SetCellText(static_cast<std::int32_t>(index) + 1, kStatusColumn, text::Utf8ToNarrow(kStatusLocalFile));
  }
  const auto failed = static_cast<std::int32_t>(outcome.failed.size());
  state.counters.succeeded.fetch_sub(failed);
  state.counters.failed.fetch_add(failed);
  return failed;
}

// The rows whose staged files could not be flushed (`unflushed`, staged_file_flush.h) fail, and
// the release cannot go in. Returns how many failed.
std::int32_t FailUnflushedRows(state::ProgramState& state, const std::vector<std::string>& unflushed) {
  if (unflushed.empty()) return 0;
  platform::UpdateWindow& window = platform::CurrentUpdateWindow();
  std::int32_t failed = 0;
  for (std::size_t i = 0; i < state.updateList.size(); ++i) {
    const state::UpdateEntry& entry = state.updateList[i];
    const std::string staging = update::StagingPathOf(update::RunDirectory() + entry.path, entry);
    if (std::find(unflushed.begin(), unflushed.end(), staging) == unflushed.end()) continue;
    window.SetCellText(static_cast<std::int32_t>(i) + 1, kStatusColumn, text::Utf8ToNarrow(kStatusLocalFile));
    ++failed;
  }
  state.counters.succeeded.fetch_sub(failed);
  state.counters.failed.fetch_add(failed);
  return failed;
}

// Every row has ended: the release goes in when all of them succeeded and none waits for a file
// that the running product holds.
RunEnd EndOfRows(state::ProgramState& state) {
  // Whatever the outcome, every staged file is on the disk, and closed, before the run ends.
  const std::vector<std::string> unflushed = WaitForFlushes();
  const std::int32_t failed = state.counters.failed.load();
  const std::int32_t deferred = state.counters.deferred.load();
  if (failed > 0) {
    update::AppendToRunLog(update::RunDirectory(), std::to_string(failed) + " of " + std::to_string(state.entryCount) +
                                                       " files failed; nothing installed");
    return {RunOutcome::FilesFailed, failed, false};
  }
  if (deferred > 0) {
    update::AppendToRunLog(update::RunDirectory(), std::to_string(deferred) +
                                                       " files are held by the running product; nothing installed, "
                                                       "the verified downloads wait for the next run");
    return {RunOutcome::Deferred, 0, false};
  }
  if (const std::int32_t notFlushed = FailUnflushedRows(state, unflushed); notFlushed > 0) {
    update::AppendToRunLog(update::RunDirectory(), std::to_string(notFlushed) +
                                                       " files could not be flushed to the disk; nothing installed");
    return {RunOutcome::FilesFailed, notFlushed, false};
  }
  const std::int32_t refused = CommitRelease(state);
  if (refused == 0) return {RunOutcome::Updated, 0, false};
  // Targets that could not be replaced: held by a program that this run may not end, or by one
  // that is not the product.
  return {state.mode.closeProduct ? RunOutcome::FilesFailed : RunOutcome::Deferred, refused, false};
}

}  // namespace

std::optional<RunEnd> CompletionTick() {
  state::ProgramState& state = state::State();
  state::DownloadCounters& counters = state.counters;
  update::FlushRunLog();  // the rows' lines, which the runners write in batches

  // Only ticks in which the downloads together advanced by less than 1 KiB/s count towards the time
  // limit: a large file on a slow link is never cut off while it is arriving.
  const std::int64_t arrived = ArrivedBytes(state);
  if (arrived - state.arrivedAtLastCheck < kStalledBytesPerTick) counters.checkTicks.fetch_add(1);
  state.arrivedAtLastCheck = arrived;

  if (counters.succeeded.load() + counters.failed.load() == state.entryCount) return EndOfRows(state);
  if (counters.checkTicks.load() >= static_cast<std::int64_t>(state.entryCount) * kTicksPerEntry) {
    counters.checkTicks.store(0);
    update::AppendToRunLog(update::RunDirectory(), "the downloads stopped advancing; nothing installed");
    return RunEnd{RunOutcome::FilesFailed, state.entryCount - counters.succeeded.load(), true};
  }
  return std::nullopt;
}

void CheckCompletion() {
  // The window is closing: the run is abandoned, and no notice may hold the window up.
  if (StopRequested()) {
    platform::CurrentUpdateWindow().SetTimerInterval(0);
    return;
  }
  // Once every row has ended, the tick commits the release on this thread, which processes the
  // window's messages while it waits for a held file: the timer stops first, so that no tick comes
  // back in and commits again.
  // A tick that comes in anyway while the run ends (the commit and the notices process the window's
  // messages) must not end it again: it would commit a second time and find nothing staged.
  state::ProgramState& state = state::State();
  if (state.runEnding) return;
  if (state.counters.succeeded.load() + state.counters.failed.load() == state.entryCount) StopTimer("更新完成");
  const std::optional<RunEnd> end = CompletionTick();
  if (!end) return;
  state.runEnding = true;
  if (end->timedOut) {
    StopTimer(nullptr);
    notify::ShowNotice(notify::kFailureNoticeKind, text::Utf8ToNarrow("更新失败"), text::Utf8ToNarrow("更新失败，连接超时"));
    update::EndProgram(end->outcome);
  }
  if (end->outcome == RunOutcome::Updated) {
    const std::int32_t answer = notify::ShowNotice(notify::kQuestionNoticeKind, text::Utf8ToNarrow("更新完成"),
                                                   text::Utf8ToNarrow("[确定]运行软件 [取消]退出更新"));
    if (answer == notify::kIdOk) LaunchProduct();
    update::EndProgram(end->outcome);
  }
  notify::ShowNotice(notify::kPartialNoticeKind, text::Utf8ToNarrow("更新完成"),
                     text::Utf8ToNarrow("有") + std::to_string(end->failedRows) + text::Utf8ToNarrow("个文件下载失败"));
  update::EndProgram(end->outcome);
}

bool RunElevated(const std::string& file, const std::string& parameters) {
  if (const std::string problem = update::LaunchProblem(file); !problem.empty()) {
    update::AppendToRunLog(update::RunDirectory(), "not started " + text::NarrowToUtf8(file) + ": " + problem);
    return false;
  }
  return platform::RunElevatedProgram(file, parameters);
}

}  // namespace velmora::download
