// The whole-release commit: a set of staged files goes in place together, or none of them does.
//
// Until the commit, nothing of a release is in the product's place. The commit then
//   1. makes sure every target can be replaced (a held target is freed as the downloads free it;
//      one still held stops the commit before anything changed),
//   2. keeps each target's old bytes in the next kept folder (a hard link: the target stays in
//      place; a flushed copy where links are not possible) with a record of the release,
//   3. writes the journal (flushed) that names every target, its staged file, where its old bytes
//      are kept and which targets are new,
//   4. renames each staged file over its target (the only time the folder holds two releases),
//   5. makes the next kept folder the kept release and removes the journal.
// A failure in step 4 undoes what step 4 did; an interruption (a kill, a power cut) is finished at
// the next start by RecoverInterruptedCommit, before anything else looks at the folder. At every
// instant each target is its old or its new file; after recovery the folder is wholly one release.
//
// Paths are GBK. Runs on one thread; two commits of one run directory never run at once (the
// single-instance guard keeps a second updater out).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "install/file_check.h"
#include "install/journal.h"

namespace velmora::install {

struct PlannedChange {
  std::string target;  // relative to the run directory, beginning with "\"
  std::string source;  // the staged file (a full path below the run directory); empty: remove target
  FileCheck check;     // what the staged file is
  std::string oldMd5;  // the target's MD5 when already known; computed when empty
  // The update check found no file at the target: it is new to the release and is not looked for
  // again (under Wine, looking for a name that is not there reads its whole folder).
  bool targetKnownMissing = false;
};

struct CommitPlan {
  CommitKind kind = CommitKind::Update;
  std::vector<PlannedChange> changes;
  std::string launchTarget;     // kept with the release (a rollback starts it)
  std::string releaseIdentity;  // kept with the release (a rolled-back release is not offered again)
};

struct CommitOutcome {
  bool committed = false;
  // When not committed: the changes whose targets could not be kept or replaced. Nothing changed.
  std::vector<std::size_t> failed;
  // When committed: what the kept release holds.
  std::size_t keptFiles = 0;
  std::int64_t keptBytes = 0;
  std::uint32_t prepareMs = 0;  // checking the targets, keeping the old files, writing the journal
  std::uint32_t replaceMs = 0;  // from the first replacement to the journal's removal
};

CommitOutcome Commit(const std::string& runDirectory, const CommitPlan& plan);

enum class RecoveryResult {
  NothingToDo,  // no commit was interrupted
  Forward,      // the interrupted commit was finished: its release is in place
  Backward,     // a staged file was missing or wrong: the release from before it is in place
  Unfinished,   // a target could not be replaced (held by a program that was not ended)
  Unreadable,   // the journal was no journal; it was set aside as update.journal.bad
};

struct Recovery {
  RecoveryResult result = RecoveryResult::NothingToDo;
  std::size_t heldTargets = 0;  // Unfinished: how many
};

// Finishes a commit that was interrupted, forward when every staged file is still there and is
// what the journal says (or is in place already), otherwise back to the old files. Also removes
// what an interrupted preparation left. Held targets are freed as the downloads free them.
Recovery RecoverInterruptedCommit(const std::string& runDirectory);

// Tests: `hook` runs after every step that changes the disk during a commit or a recovery;
// throwing from it leaves the disk as a process killed at that moment would. Empty: none.
void ReplaceCommitStepHook(std::function<void()> hook);

}  // namespace velmora::install
