#include "install/rollback.h"

#include "install/file_links.h"
#include "platform/file.h"
#include "text/encoding.h"
#include "update/run_log.h"
#include "update/staging_files.h"
#include "update/state_paths.h"

namespace velmora::install {
namespace {

// The staging name of a kept file: the name an update staging the same content would use.
std::string StagingOf(const std::string& runDirectory, const KeptFile& file) {
  state::UpdateEntry entry;
  entry.md5 = file.md5;
  entry.size = file.size;
  const std::string staging = update::StagingPathOf(runDirectory + file.path, entry);
  update::MakeStagingFolders(staging);
  return staging;
}

void RemoveStaged(const std::vector<std::string>& staged) {
  for (const std::string& path : staged) platform::RemoveFile(path);
}

}  // namespace

RollbackOutcome RollBackToKeptRelease(const std::string& runDirectory, const KeptRelease& release) {
  RollbackOutcome outcome;
  CommitPlan plan;
  plan.kind = CommitKind::Rollback;
  plan.launchTarget = release.launchTarget;
  plan.releaseIdentity = release.releaseIdentity;
  std::vector<std::string> staged;
  for (const KeptFile& file : release.kept) {
    const std::string kept = runDirectory + KeptFileOf(update::kKeptFolder, file.path);
    const std::string staging = StagingOf(runDirectory, file);
    const FileCheck check{file.size, file.md5, {}};
    if (!FileMatches(kept, check) || !LinkOrCopy(kept, staging)) {
      RemoveStaged(staged);
      outcome.keptReleaseDamaged = true;
      update::AppendToRunLog(runDirectory, "rollback refused: the kept file of " + text::NarrowToUtf8(file.path) +
                                               " is missing or damaged");
      return outcome;
    }
    staged.push_back(staging);
    plan.changes.push_back({file.path, staging, check, file.md5});
  }
  for (const std::string& path : release.added) plan.changes.push_back({path, {}, {}, {}});

  outcome.commit = Commit(runDirectory, plan);
  if (!outcome.commit.committed) {
    RemoveStaged(staged);
    update::AppendToRunLog(runDirectory, "rollback refused: " + std::to_string(outcome.commit.failed.size()) +
                                             " files could not be replaced; nothing changed");
    return outcome;
  }
  update::AppendToRunLog(runDirectory, "rollback: " + std::to_string(release.kept.size()) + " files restored, " +
                                           std::to_string(release.added.size()) + " added files removed");
  return outcome;
}

}  // namespace velmora::install
