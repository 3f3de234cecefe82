#include "download/scheduler.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <utility>
#include <vector>

#include "download/progress.h"
#include "download/run_folders.h"
#include "download/staged_download.h"
#include "download/staged_file_flush.h"
#include "install/locked_file_release.h"
#include "install/own_executable.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/release_services.h"
#include "platform/thread.h"
#include "platform/update_window.h"
#include "state/program_state.h"
#include "text/encoding.h"
#include "update/code_signing.h"
#include "update/run_directory.h"
#include "update/run_log.h"
#include "update/staging_files.h"

namespace velmora::download {
namespace {

constexpr std::uint32_t kTimerIntervalMs = 500;
// Once the last row has ended, the completion check need not wait for the next 500 ms tick: the
// release's commit and the notice follow at once.
constexpr std::uint32_t kLastRowTickMs = 10;

std::atomic<bool> stopping{false};

std::string Gbk(const char* utf8) { return text::Utf8ToNarrow(utf8); }

void SetStatus(std::int32_t row, const std::string& status) {
  platform::CurrentUpdateWindow().SetCellText(row, kStatusColumn, status);
}

bool IsLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

// The folder of `path` exists already (the common case: most files of a release replace files).
bool ParentFolderExists(const std::string& path) {
  // The name is found GBK-aware: the second byte of a character such as "淺" is a backslash.
  const std::size_t nameLength = install::FileNameOfPath(path, true).size();
  if (nameLength == 0 || nameLength + 4 > path.size() || path[path.size() - nameLength - 1] != '\\') return false;
  bool isDirectory = false;
  return platform::CurrentReleaseServices().Find(path.substr(0, path.size() - nameLength - 1), isDirectory) &&
         isDirectory;
}

// The folders of this run's targets known to exist: each is looked for (and made when missing)
// once per run, not once per file (a release of 1,000 new files in one folder would otherwise look
// for that folder 1,000 times). Cleared when a run starts.
RunFolders knownFolders;

// Makes sure the folder of `target` exists (a target the update check did not find may be the
// first file of a folder new to the release).
void MakeParentFolder(const std::string& target) {
  const std::string folder = FolderPartOf(target);
  if (knownFolders.Contains(folder)) return;
  if (!ParentFolderExists(target)) {
    CreateParentDirectories(target);
    // Not remembered when it could not be made: the next file of the folder tries again.
    if (!ParentFolderExists(target)) return;
  }
  knownFolders.Add(folder);
}

// "row 3 \Bin\x.dll: 下载成功, 1048576 bytes in 532 ms, HTTP 200" (and ", error 12029" when a
// request could not be opened).
void LogRowOutcome(std::int32_t row, const state::UpdateEntry& entry, const DownloadTask& task,
                   const std::string& outcome, std::uint32_t elapsedMs, bool onRunner) {
  std::string line = "row " + std::to_string(row) + " " + text::NarrowToUtf8(entry.path) + ": " + outcome + ", " +
                     std::to_string(task.ArrivedBytes()) + " bytes in " + std::to_string(elapsedMs) + " ms";
  if (task.LastHttpStatus() != 0) line += ", HTTP " + std::to_string(task.LastHttpStatus());
  if (task.LastErrorCode() != 0) line += ", error " + std::to_string(task.LastErrorCode());
  if (onRunner) {
    // Written with the lines around it (the runner writes what is left when it ends).
    update::AppendToRunLogSoon(update::RunDirectory(), line);
  } else {
    update::AppendToRunLog(update::RunDirectory(), line);
  }
}

// What is left of a row once its file has been fetched and checked.
struct RowEnding {
  std::int32_t row = 0;            // 0: none
  bool held = false;               // the target is held by the running product
  const char* failure = nullptr;   // the row's failure status (UTF-8), nullptr when it succeeded
  bool staged = false;             // its staging file was fetched (or found) and checked
  std::uint32_t elapsedMs = 0;     // from the row's start until its file was checked
};

// A runner's row whose ending waits for the runner's next row: it runs while that row's request
// travels (DownloadTask::SetInFlightWork), so that the runner's local work overlaps the server's
// answer instead of delaying the next request. Each runner keeps one on its stack; the row is not
// counted until its ending has run, so the completion check never sees it ended before that.
struct DeferredEnding {
  RowEnding pending;
};
// The calling runner's deferred ending; null on any other thread (a row run there ends at once).
thread_local DeferredEnding* runnerEnding = nullptr;

// A row's ending: the signing check of a program file, the staged file queued for its flush, the
// log line, the row's cells and the counters. Counted last: once every row is counted the run may
// end, and nothing of a row may be touched after that.
void EndRow(const RowEnding& ending) {
  state::ProgramState& state = state::State();
  platform::UpdateWindow& window = platform::CurrentUpdateWindow();
  const std::int32_t row = ending.row;
  const state::UpdateEntry& entry = state.updateList[static_cast<std::size_t>(row - 1)];
  DownloadTask& task = state.taskList[static_cast<std::size_t>(row - 1)].task;
  const char* failure = ending.failure;
  std::string signingProblem;  // UTF-8, for the log: why a program file's signature was refused
  if (ending.staged) {
    const std::string target = update::RunDirectory() + entry.path;
    const std::string staging = update::StagingPathOf(target, entry);
    // The downloaded file is still open, and no one else may open it meanwhile: a runner hands it
    // to the flusher as it is, unless the signing check must read it (with a pinned subject every
    // file is read, since a program image is known by its first bytes whatever its name). A row
    // run on its own closes it, so that it can be read as soon as the row has ended.
    std::unique_ptr<platform::OutputFile> file = task.TakeFinishedFile();
    if (file && (runnerEnding == nullptr || !update::CodeSigningSubject().empty())) {
      file.reset();
    }
    signingProblem = update::CodeSigningProblem(staging, target);
    if (signingProblem.empty()) {
      // The staged file reaches the disk while the next rows download; the commit waits for it.
      FlushInBackground(staging, std::move(file));
    } else {
      // The bytes are the listed ones, yet no program the publisher signed: never installed.
      platform::RemoveFile(staging);
      failure = kStatusDigestMismatch;
    }
  }

  std::string outcome = failure == nullptr ? (ending.held ? "verified, held by the product" : kStatusSucceeded) : failure;
  if (!signingProblem.empty()) outcome += " (" + signingProblem + ")";
  if (failure != nullptr && ending.held && state.mode.closeProduct) {
    outcome += " (still held after " + std::to_string(install::kReleaseAttempts) + " attempts to free it)";
  }
  LogRowOutcome(row, entry, task, outcome, ending.elapsedMs, runnerEnding != nullptr);
  std::int32_t ended = 0;
  if (failure == nullptr) {
    if (ending.held) state.counters.deferred.fetch_add(1);
    window.SetProgressValue(row, kProgressColumn, 100);
    SetStatus(row, Gbk(kStatusSucceeded));
    ended = state.counters.succeeded.fetch_add(1) + 1 + state.counters.failed.load();
  } else {
    SetStatus(row, Gbk(failure));
    ended = state.counters.failed.fetch_add(1) + 1 + state.counters.succeeded.load();
  }
  if (ended == state.entryCount && !stopping.load()) window.SetTimerInterval(kLastRowTickMs);
  state.counters.running.fetch_sub(1);
}

// Ends the calling runner's deferred row, if one waits. Any number of calls: each row ends once.
void RunDeferredEnding() {
  if (runnerEnding == nullptr || runnerEnding->pending.row == 0) return;
  const RowEnding ending = std::exchange(runnerEnding->pending, RowEnding{});
  EndRow(ending);
}

}  // namespace

bool PumpingDelay(std::int64_t amount, std::int32_t unit) {
  static constexpr std::uint64_t kUnitMs[] = {1, 1000, 60000, 3600000};
  const std::uint64_t perUnit = unit >= 0 && unit <= 3 ? kUnitMs[unit] : 1;
  if (amount > 0) platform::WaitProcessingMessages(static_cast<std::uint64_t>(amount) * perUnit);
  return true;
}

bool CreateParentDirectories(const std::string& path) {
  if (path.size() < 2 || path[1] != ':') return false;
  for (std::size_t i = 0; i < path.size(); ++i) {
    // A GBK character whose second byte is 0x5C is not a separator.
    if (IsLeadByte(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) {
      ++i;
      continue;
    }
    if (path[i] == '\\') platform::CreateDirectoryAt(path.substr(0, i + 1));
  }
  return true;
}

void RunWorker(std::int32_t row) {
  const state::ProgramState& state = state::State();
  const state::UpdateEntry& entry = state.updateList[static_cast<std::size_t>(row - 1)];
  DownloadTask& task = state::State().taskList[static_cast<std::size_t>(row - 1)].task;
  const std::string target = update::RunDirectory() + entry.path;
  const std::uint32_t startTick = platform::TickCount();

  // The runner's previous row ends while this row's request travels, unless something that may
  // take long comes first (a target to free, staged bytes to hash, chunks to place, a stop).
  const bool requestFirst = entry.targetNotFound && entry.noStagingFile && !entry.delta.Present() && !stopping.load();
  if (!requestFirst) RunDeferredEnding();

  // A target the update check did not find is not looked for again: nothing can hold it, and
  // should it have appeared since, putting the new file in place replaces it or fails the row.
  using install::TargetState;
  const TargetState targetState =
      entry.targetNotFound ? TargetState::Missing : install::FreeTarget(target, [row](int attempt) {
        SetStatus(row, Gbk(kStatusLockedPrefix) + std::to_string(attempt));
      });
  if (targetState == TargetState::Missing) MakeParentFolder(target);
  const bool held = targetState == TargetState::Held && !install::IsOwnExecutable(target);

  const char* failure = nullptr;
  bool staged = false;  // the file was fetched (or found staged) and checked
  if (stopping.load()) {
    failure = kStatusReadFailed;
  } else if (held && state.mode.closeProduct) {
    // Still held after every attempt, or read-only: it could not be replaced, so it is not
    // downloaded either, and stays as it is.
    failure = kStatusLocalFile;
  } else {
    // A run that may not end the product still fetches and checks a held file: the release then
    // waits for the next run, which finds it staged.
    task.SetFlushLater(true);
    if (requestFirst) task.SetInFlightWork(RunDeferredEnding);
    failure = DownloadAndStage(row, entry, task, target);
    task.SetInFlightWork(nullptr);
    staged = failure == nullptr;
    if (!staged) task.CloseFile();  // a stop may come after the file was finished
  }
  RunDeferredEnding();  // when no request went out

  const RowEnding ending{row, held, failure, staged, platform::TickCount() - startTick};
  if (runnerEnding != nullptr) {
    runnerEnding->pending = ending;
  } else {
    EndRow(ending);
  }
}

void ResetRunCounters() {
  state::ProgramState& state = state::State();
  stopping.store(false);
  state.counters.checkTicks.store(0);
  state.counters.succeeded.store(0);
  state.counters.failed.store(0);
  state.counters.running.store(0);
  state.counters.deferred.store(0);
  knownFolders.Clear();
  ForgetMadeStagingFolders();
  state.runEnding = false;
  state.arrivedAtLastCheck = 0;
  for (const state::TaskRecord& record : state.taskList) state.arrivedAtLastCheck += record.task.ArrivedBytes();
}

void FreeLaunchTarget() {
  const state::ProgramState& state = state::State();
  if (state.entryCount != 0 && state.mode.closeProduct) {
    install::ReleaseFile(state.launchTarget, update::RunDirectory() + "\\" + state.launchTarget);
  }
}

void StartRows(WorkerRoutine worker) {
  state::ProgramState& state = state::State();
  // kMaxRunningWorkers runners take the rows in order, each the next one as soon as its own has
  // ended: no thread has to wake another between two rows (under Wine a wake-up and a thread's
  // start cost more than a small file's whole transfer).
  const auto next = std::make_shared<std::atomic<std::int32_t>>(1);
  const auto runRows = [worker, next] {
    state::ProgramState& run = state::State();
    DeferredEnding ending;
    runnerEnding = &ending;
    for (std::int32_t row = next->fetch_add(1); row <= run.entryCount && !stopping.load(); row = next->fetch_add(1)) {
      run.counters.running.fetch_add(1);
      worker(row);
    }
    RunDeferredEnding();
    runnerEnding = nullptr;
    update::FlushRunLog();
  };
  std::vector<platform::ThreadHandle> runners;
  for (std::int32_t i = 0; i < std::min(state.entryCount, state::kMaxRunningWorkers); ++i) {
    if (const platform::ThreadHandle runner = platform::StartThread(runRows)) runners.push_back(runner);
  }
  if (runners.empty()) return;  // no thread to be had: the completion check's time limit ends the run
  // Every row's handle is one of the runners': waiting for every row's handle waits for every row.
  for (std::size_t i = 0; i < state.taskList.size(); ++i) state.taskList[i].workerThread = runners[i % runners.size()];
}

void StartDownloads(WorkerRoutine worker) {
  platform::UpdateWindow& window = platform::CurrentUpdateWindow();
  window.EnableButton(false);
  window.SetTimerInterval(kTimerIntervalMs);
  ResetRunCounters();
  FreeLaunchTarget();
  StartRows(worker);
  if (stopping.load()) return;  // the window is closing
  window.SetButtonCaption(Gbk("正在下载"));
}

void StartDownloads() { StartDownloads(RunWorker); }

void RequestStop() {
  stopping.store(true);
  for (state::TaskRecord& record : state::State().taskList) record.task.RequestStop();
}

bool StopRequested() { return stopping.load(); }

void StopThreads() {
  state::ProgramState& state = state::State();
  RequestStop();

  const std::uint32_t start = platform::TickCount();
  auto waitLeft = [start]() -> std::uint32_t {
    const std::uint32_t spent = platform::TickCount() - start;
    return spent >= kStopWaitMs ? 0 : kStopWaitMs - spent;
  };
  for (const state::TaskRecord& record : state.taskList) {
    if (record.workerThread != 0) platform::WaitForThread(record.workerThread, waitLeft());
  }
  if (state.checkThread != 0) platform::WaitForThread(state.checkThread, waitLeft());
  for (const state::TaskRecord& record : state.taskList) {
    if (record.workerThread != 0 && platform::IsThreadRunning(record.workerThread)) {
      platform::ForceTerminateThread(record.workerThread);
    }
  }
  if (state.checkThread != 0 && platform::IsThreadRunning(state.checkThread)) {
    platform::ForceTerminateThread(state.checkThread);
  }
}

}  // namespace velmora::download
