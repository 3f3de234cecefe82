// A release that the user rolled back is not offered again: the rollback remembers the release's
// identity under Bin\Config, and the update check treats a manifest with that identity as nothing
// to update. A release that differs in any entry is offered as usual; installing a release
// forgets the rolled-back one.
#pragma once

#include <string>
#include <vector>

#include "state/program_state.h"

namespace velmora::update {


// The identity of a manifest's set of entries: 32 hex digits of the MD5 over each entry's path
// (as Windows compares paths: PathKey), MD5, SHA-256 and size, sorted, so that the entries' order
// plays no part. URLs and names play none either: the same files from another address are the
// same release.
std::string ReleaseIdentity(const std::vector<state::UpdateEntry>& entries);

// The run directory's (GBK) rolled-back release is `identity`.
bool IsRolledBackRelease(const std::string& runDirectory, const std::string& identity);

void RememberRolledBackRelease(const std::string& runDirectory, const std::string& identity);
void ForgetRolledBackRelease(const std::string& runDirectory);

}  // namespace velmora::update
