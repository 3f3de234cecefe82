#include "app/start_recovery.h"

#include "install/commit.h"
#include "install/own_executable.h"
#include "notify/task_notice.h"
#include "platform/file.h"
#include "text/encoding.h"
#include "update/run_directory.h"
#include "update/run_log.h"
#include "update/state_paths.h"

namespace velmora::app {

bool CommitWasInterrupted() { return platform::FileLength(update::RunDirectory() + update::kJournalPath) >= 0; }

std::size_t RecoverCommitHere() {
  const std::string runDirectory = update::RunDirectory();
  const install::Recovery recovery = install::RecoverInterruptedCommit(runDirectory);
  switch (recovery.result) {
    case install::RecoveryResult::NothingToDo: break;
    case install::RecoveryResult::Forward:
      update::AppendToRunLog(runDirectory, "recovery: the interrupted commit was finished");
      break;
    case install::RecoveryResult::Backward:
      update::AppendToRunLog(runDirectory, "recovery: a staged file was missing or damaged; the previous files are back");
      break;
    case install::RecoveryResult::Unreadable:
      update::AppendToRunLog(runDirectory, "recovery: the commit journal is unreadable and was set aside");
      break;
    case install::RecoveryResult::Unfinished:
      update::AppendToRunLog(runDirectory, "recovery: " + std::to_string(recovery.heldTargets) +
                                               " files are held by other programs; the interrupted commit waits");
      return recovery.heldTargets;
  }
  install::RemoveSetAsideExecutable();
  return 0;
}

void TellCommitWaits(std::size_t heldFiles) {
  notify::ShowNotice(notify::kFailureNoticeKind, text::Utf8ToNarrow("更新失败"),
                     text::Utf8ToNarrow("上次更新未能完成：有") + std::to_string(heldFiles) +
                         text::Utf8ToNarrow("个文件被占用，请关闭占用它们的程序后重试"));
}

bool FinishInterruptedCommit() {
  const std::size_t held = RecoverCommitHere();
  if (held != 0) TellCommitWaits(held);
  return held == 0;
}

}  // namespace velmora::app
