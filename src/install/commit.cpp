#include "install/commit.h"

#include <atomic>
#include <optional>
#include <utility>

#include "install/file_links.h"
#include "install/kept_release.h"
#include "install/locked_file_release.h"
#include "install/own_executable.h"
#include "install/record_file.h"
#include "install/shared_work.h"
#include "platform/clock.h"
#include "platform/directory_walk.h"
#include "platform/file.h"
#include "update/durable_file.h"
#include "update/rolled_back_release.h"
#include "update/staging_files.h"
#include "update/state_paths.h"

namespace velmora::install {
namespace {

std::function<void()>& StepHook() {
  static std::function<void()> hook;
  return hook;
}

// Called after every step that changes the disk (tests interrupt the commit here).
void Step() {
  if (StepHook()) StepHook()();
}

bool Exists(const std::string& path) { return platform::FileLength(path) >= 0; }

// Whether the change has been carried out: its staged file has been renamed over the target (or
// the target removed).
bool Applied(const std::string& runDirectory, const JournalChange& change) {
  return change.source.empty() ? !Exists(runDirectory + change.target) : !Exists(runDirectory + change.source);
}

// The journal can go forward: every staged file is still there and is what the journal says, or
// is in place already.
bool CanGoForward(const std::string& runDirectory, const Journal& journal) {
  for (const JournalChange& change : journal.changes) {
    if (change.source.empty()) continue;
    const std::string source = runDirectory + change.source;
    const std::string& checked = Exists(source) ? source : runDirectory + change.target;
    if (!FileMatches(checked, change.check)) return false;
  }
  return true;
}

// Carries out the changes not yet carried out; returns how many targets could not be replaced.
std::size_t GoForward(const std::string& runDirectory, const Journal& journal) {
  std::size_t held = 0;
  for (const JournalChange& change : journal.changes) {
    if (Applied(runDirectory, change)) continue;
    const std::string target = runDirectory + change.target;
    bool done = change.source.empty() ? RemoveTarget(target) : PutInPlace(runDirectory + change.source, target);
    if (!done && FreeTarget(target) != TargetState::Held) {
      done = change.source.empty() ? RemoveTarget(target) : PutInPlace(runDirectory + change.source, target);
    }
    if (!done) ++held;
    Step();
  }
  return held;
}

// Puts the old file back where a change was carried out (or left its target missing part way);
// returns how many targets could not be replaced.
std::size_t GoBack(const std::string& runDirectory, const Journal& journal) {
  std::size_t held = 0;
  for (auto change = journal.changes.rbegin(); change != journal.changes.rend(); ++change) {
    const std::string target = runDirectory + change->target;
    const bool applied = Applied(runDirectory, *change);
    bool done = true;
    if (change->kept.empty()) {
      // A target new to the release goes again; its bytes go back to the staging name.
      if (applied && !change->source.empty()) {
        update::MakeStagingFolders(runDirectory + change->source);
        done = platform::MoveFileReplacing(target, runDirectory + change->source) || RemoveTarget(target);
      }
    } else if ((applied || !Exists(target)) && Exists(runDirectory + change->kept)) {
      const std::string kept = runDirectory + change->kept;
      // The new file's bytes get their staging name back, so that the next run need not fetch
      // them again; the target stays in place meanwhile.
      if (applied && !change->source.empty()) {
        update::MakeStagingFolders(runDirectory + change->source);
        LinkOrCopy(target, runDirectory + change->source);
      }
      done = PutInPlace(kept, target) || (FreeTarget(target) != TargetState::Held && PutInPlace(kept, target));
    }
    if (!done) ++held;
    Step();
  }
  return held;
}

// Carries out every change of a journal just written: the index of a change that failed, or
// nothing. With a step hook (tests) on one thread, so that every step is seen in order.
std::optional<std::size_t> CarryOut(const std::string& runDirectory, const Journal& journal) {
  std::atomic<std::size_t> failed{journal.changes.size()};
  ForEachItem(journal.changes.size(), !StepHook(), [&](std::size_t i) {
    const JournalChange& change = journal.changes[i];
    const std::string target = runDirectory + change.target;
    const bool done = change.source.empty() ? RemoveTarget(target) : PutInPlace(runDirectory + change.source, target);
    Step();
    if (!done) failed.store(i);
    return done;
  });
  if (failed.load() < journal.changes.size()) return failed.load();
  return std::nullopt;
}

// After every change has been carried out: the kept folders take their places, and the journal
// goes (the generation set aside under kOldKeptFolder is the caller's to remove). Each step can be
// repeated after an interruption.
void Finish(const std::string& runDirectory, const Journal& journal) {
  const std::string kept = runDirectory + update::kKeptFolder;
  const std::string next = runDirectory + update::kNewKeptFolder;
  const std::string old = runDirectory + update::kOldKeptFolder;
  if (journal.kind == CommitKind::Update) {
    if (platform::FolderExists(next)) {
      platform::RemoveFolderTree(old);
      if (platform::FolderExists(kept)) platform::MoveFolder(kept, old);
      Step();
      platform::MoveFolder(next, kept);
      Step();
    }
    update::ForgetRolledBackRelease(runDirectory);
  } else {
    // The release that was rolled back is not offered again; nothing is kept afterwards.
    if (const std::optional<KeptRelease> release = ReadKeptRelease(runDirectory)) {
      update::RememberRolledBackRelease(runDirectory, release->releaseIdentity);
    }
    if (platform::FolderExists(kept)) platform::MoveFolder(kept, old);
    Step();
    platform::RemoveFolderTree(next);
  }
  platform::RemoveFile(runDirectory + update::kJournalPath);
  Step();
  // The staging folders the release's files came from, now empty.
  std::vector<std::string> sources;
  for (const JournalChange& change : journal.changes) {
    if (!change.source.empty()) sources.push_back(runDirectory + change.source);
  }
  update::RemoveEmptyStagingFolders(sources);
}

// Leftovers of a preparation that never wrote its journal, or of a finished commit.
void RemoveLeftovers(const std::string& runDirectory) {
  platform::RemoveFile(runDirectory + update::kJournalPath + ".tmp");
  platform::RemoveFolderTree(runDirectory + update::kNewKeptFolder);
  platform::RemoveFolderTree(runDirectory + update::kOldKeptFolder);
}

// The change's staged file relative to the run directory; empty when it is not below it.
std::string RelativeSource(const std::string& runDirectory, const std::string& source) {
  if (source.size() <= runDirectory.size() || source.compare(0, runDirectory.size(), runDirectory) != 0) return {};
  return source.substr(runDirectory.size());
}

}  // namespace

void ReplaceCommitStepHook(std::function<void()> hook) { StepHook() = std::move(hook); }

CommitOutcome Commit(const std::string& runDirectory, const CommitPlan& plan) {
  CommitOutcome outcome;
  const std::uint32_t prepareStart = platform::TickCount();
  // Held targets are looked for on two threads; only those found held are freed, one by one.
  const std::size_t count = plan.changes.size();
  std::vector<char> held(count, 0);
  ForEachItem(count, true, [&](std::size_t i) {
    const std::string target = runDirectory + plan.changes[i].target;
    held[i] = !plan.changes[i].targetKnownMissing && !IsOwnExecutable(target) && IsExistingFile(target) && IsLocked(target);
    return true;
  });
  for (std::size_t i = 0; i < count; ++i) {
    if (held[i] && FreeTarget(runDirectory + plan.changes[i].target) == TargetState::Held) outcome.failed.push_back(i);
  }
  if (!outcome.failed.empty()) return outcome;

  RemoveLeftovers(runDirectory);
  // Each old file is kept (on two threads); the journal lists the changes in the plan's order.
  Journal journal;
  journal.kind = plan.kind;
  journal.changes.resize(count);
  std::vector<std::int64_t> oldLengths(count, -1);
  std::vector<std::string> oldMd5s(count);
  std::atomic<std::size_t> unprepared{count};
  ForEachItem(count, true, [&](std::size_t i) {
    const PlannedChange& planned = plan.changes[i];
    JournalChange& change = journal.changes[i];
    change = {planned.target, {}, {}, planned.check};
    if (!planned.source.empty()) {
      change.source = RelativeSource(runDirectory, planned.source);
      if (change.source.empty()) {
        unprepared.store(i);
        return false;
      }
    }
    const std::string target = runDirectory + planned.target;
    oldLengths[i] = planned.targetKnownMissing ? -1 : platform::FileLength(target);
    if (oldLengths[i] < 0) return true;
    change.kept = KeptFileOf(update::kNewKeptFolder, planned.target);
    if (!LinkOrCopy(target, runDirectory + change.kept)) {
      unprepared.store(i);
      return false;
    }
    if (plan.kind == CommitKind::Update) oldMd5s[i] = planned.oldMd5.empty() ? Md5OfFile(target) : planned.oldMd5;
    return true;
  });
  if (unprepared.load() < count) {
    // Nothing has changed yet: a change that cannot be prepared fails the commit without effect.
    platform::RemoveFolderTree(runDirectory + update::kNewKeptFolder);
    outcome.failed.push_back(unprepared.load());
    return outcome;
  }
  KeptRelease kept{plan.launchTarget, plan.releaseIdentity, {}, {}};
  if (plan.kind == CommitKind::Update) {
    for (std::size_t i = 0; i < count; ++i) {
      if (oldLengths[i] >= 0) {
        kept.kept.push_back({plan.changes[i].target, oldLengths[i], oldMd5s[i]});
      } else {
        kept.added.push_back(plan.changes[i].target);
      }
    }
  }
  const std::string record = runDirectory + update::kNewKeptFolder + update::kKeptRecordName;
  CreateFoldersFor(record);
  if ((plan.kind == CommitKind::Update && !update::WriteFileDurably(record, FormatKeptRelease(kept))) ||
      !update::WriteFileDurably(runDirectory + update::kJournalPath, FormatJournal(journal))) {
    // No room for the records: no file of the release can go in.
    platform::RemoveFolderTree(runDirectory + update::kNewKeptFolder);
    for (std::size_t i = 0; i < count; ++i) outcome.failed.push_back(i);
    return outcome;
  }
  Step();

  const std::uint32_t start = platform::TickCount();
  outcome.prepareMs = start - prepareStart;
  if (const std::optional<std::size_t> failed = CarryOut(runDirectory, journal)) {
    // Undone at once; should a target refuse even that, the journal stays for the next start.
    if (GoBack(runDirectory, journal) == 0) {
      platform::RemoveFolderTree(runDirectory + update::kNewKeptFolder);
      platform::RemoveFile(runDirectory + update::kJournalPath);
    }
    outcome.failed.push_back(*failed);
    return outcome;
  }
  Finish(runDirectory, journal);
  outcome.replaceMs = platform::TickCount() - start;
  platform::RemoveFolderTree(runDirectory + update::kOldKeptFolder);
  outcome.committed = true;
  outcome.keptFiles = kept.kept.size();
  outcome.keptBytes = KeptBytes(kept);
  return outcome;
}

Recovery RecoverInterruptedCommit(const std::string& runDirectory) {
  Recovery recovery;
  const std::string journalPath = runDirectory + update::kJournalPath;
  if (!Exists(journalPath)) {
    RemoveLeftovers(runDirectory);
    return recovery;
  }
  const std::optional<std::string> text = update::ReadSmallFile(journalPath);
  const std::optional<Journal> journal = text ? ParseJournal(*text) : std::nullopt;
  if (!journal) {
    platform::MoveFileReplacing(journalPath, journalPath + ".bad");
    recovery.result = RecoveryResult::Unreadable;
    return recovery;
  }
  if (CanGoForward(runDirectory, *journal)) {
    recovery.heldTargets = GoForward(runDirectory, *journal);
    recovery.result = recovery.heldTargets == 0 ? RecoveryResult::Forward : RecoveryResult::Unfinished;
    if (recovery.heldTargets == 0) {
      Finish(runDirectory, *journal);
      platform::RemoveFolderTree(runDirectory + update::kOldKeptFolder);
    }
    return recovery;
  }
  recovery.heldTargets = GoBack(runDirectory, *journal);
  if (recovery.heldTargets != 0) {
    recovery.result = RecoveryResult::Unfinished;
    return recovery;
  }
  platform::RemoveFolderTree(runDirectory + update::kNewKeptFolder);
  platform::RemoveFile(journalPath);
  Step();
  recovery.result = RecoveryResult::Backward;
  return recovery;
}

}  // namespace velmora::install
