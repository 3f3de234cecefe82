// The first thing every start does once it knows it is the only copy: finish a commit that an
// earlier run left unfinished (install/commit.h), so that nothing after it ever sees a folder that
// holds two releases, and remove what earlier runs set aside. In a folder this run cannot write
// (a per-machine install, a standard user) the commit is finished by the update service or by the
// copy started again elevated, as app/update_route.h decides for an update.
#pragma once

#include <cstddef>

namespace velmora::app {

// An earlier run left a commit unfinished (its journal is there).
bool CommitWasInterrupted();

// Finishes or undoes the interrupted commit here and logs what came of it. Returns the number of
// files that keep it waiting (held by other programs, or not writable by this run); 0 when the
// product folder is wholly one release. Shows nothing.
std::size_t RecoverCommitHere();

// Tells the user that the interrupted commit waits for `heldFiles` files (a notice; nothing in
// a quiet run).
void TellCommitWaits(std::size_t heldFiles);

// RecoverCommitHere, telling the user when it waits. True when the product folder is
// wholly one release; false when the journal stays for the next start.
bool FinishInterruptedCommit();

}  // namespace velmora::app
