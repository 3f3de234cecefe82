// Going back to the kept previous release: its files go back in and the files the last update
// added are removed, through the same journaled commit as an update, so that an interruption is
// finished or undone at the next start like any other commit. Afterwards nothing is kept, and the
// release that was rolled back is not offered again (update/rolled_back_release.h).
#pragma once

#include <string>

#include "install/commit.h"
#include "install/kept_release.h"

namespace velmora::install {

struct RollbackOutcome {
  CommitOutcome commit;
  // A kept file was missing or not what the record says: nothing was changed.
  bool keptReleaseDamaged = false;
};

// Restores `release` (the run directory's kept release, GBK path). Each kept file is first given a
// staging name beside its target (a hard link, or a copy) and checked against the record; the
// kept folder itself stays whole until the commit has gone through. Held targets are freed as
// the downloads free them. Logs the outcome.
RollbackOutcome RollBackToKeptRelease(const std::string& runDirectory, const KeptRelease& release);

}  // namespace velmora::install
