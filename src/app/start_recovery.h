// The first thing every start does once it knows it is the only copy: finish a commit that an
// earlier run left unfinished (install/commit.h), so that nothing after it ever sees a folder that
// holds two releases, and remove what earlier runs set aside.
#pragma once

namespace velmora::app {

// True when the product folder is wholly one release. False when a held file kept the interrupted
// commit from being finished; the user has been told, and the journal stays for the next start.
bool FinishInterruptedCommit();

}  // namespace velmora::app
