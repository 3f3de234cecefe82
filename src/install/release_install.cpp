#include "install/release_install.h"

#include "text/encoding.h"
#include "update/run_log.h"
#include "update/staging_files.h"
#include "update/state_paths.h"

namespace velmora::install {

CommitOutcome InstallStagedRelease(const std::string& runDirectory, const state::ProgramState& state) {
  CommitPlan plan;
  plan.kind = CommitKind::Update;
  plan.launchTarget = state.launchTarget;
  plan.releaseIdentity = state.releaseIdentity;
  plan.changes.reserve(state.updateList.size());
  for (const state::UpdateEntry& entry : state.updateList) {
    PlannedChange change;
    change.target = entry.path;
    change.source = update::StagingPathOf(runDirectory + entry.path, entry);
    change.check = {entry.size, entry.md5, entry.sha256};
    change.oldMd5 = entry.localMd5;
    change.targetKnownMissing = entry.targetNotFound;
    plan.changes.push_back(std::move(change));
  }
  const CommitOutcome outcome = Commit(runDirectory, plan);
  if (outcome.committed) {
    update::AppendToRunLog(runDirectory, "commit: " + std::to_string(plan.changes.size()) + " files prepared in " +
                                             std::to_string(outcome.prepareMs) + " ms, in place in " +
                                             std::to_string(outcome.replaceMs) + " ms; previous release kept in " +
                                             text::NarrowToUtf8(update::kKeptFolder).substr(1) + ": " +
                                             std::to_string(outcome.keptFiles) + " files, " +
                                             std::to_string(outcome.keptBytes) + " bytes");
  } else {
    std::string names;
    for (const std::size_t index : outcome.failed) names += " " + text::NarrowToUtf8(state.updateList[index].path);
    update::AppendToRunLog(runDirectory, "commit refused, nothing installed; could not replace:" + names);
  }
  return outcome;
}

}  // namespace velmora::install
