// Installing the release that a run has staged: every listed entry's verified staging file goes
// in place in one commit (install/commit.h), and the replaced files become the kept release.
#pragma once

#include <string>

#include "install/commit.h"
#include "state/program_state.h"

namespace velmora::install {

// Commits every entry of `state.updateList` from its staging file into the run directory (GBK),
// keeping the replaced files with the release's launch target and identity, and logs the outcome
// with the kept release's size. CommitOutcome::failed holds the rows' indexes (row - 1).
CommitOutcome InstallStagedRelease(const std::string& runDirectory, const state::ProgramState& state);

}  // namespace velmora::install
