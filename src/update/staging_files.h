// Where a file is downloaded before it replaces its target: a staging file beside the target (same
// folder, so that putting it in place is a rename on one volume).
//
// A staging file's name says which content it is filling, so that a download that was interrupted
// (a dropped connection, a closed window, a killed updater) can be resumed by a later run for the
// same file content, and by no other: "Velmora.dll" listed with (md5, sha256, size) is staged as
// "Velmora.dll.<16 hex digits of that content>.velmora-part". The URL plays no part: the same file
// from a mirror, a CDN address with a fresh token or a republished manifest resumes what an earlier
// run fetched, and the staged bytes are checked against the entry's digests anyway. The update
// check keeps the staging files of the entries it lists for download and removes every other one.
#pragma once

#include <string>
#include <vector>

#include "state/program_state.h"

namespace velmora::update {

inline constexpr char kStagingSuffix[] = ".velmora-part";

// The staging file of `target` (GBK path) for `entry`'s content: the target's path, ".", the first
// 16 hex digits of the MD5 of md5 + "\n" + sha256 + "\n" + size (the digests in lower case, the
// size in decimal, each empty when the entry does not list it), and kStagingSuffix. Whatever the
// manifest's texts hold, only hex digits enter the name.
std::string StagingPathOf(const std::string& target, const state::UpdateEntry& entry);

// Removes every staging file (a file whose name ends in kStagingSuffix) in `runDirectory` and the
// directories below it, except those that `kept` names (paths compared as Windows does, see
// PathKey). Links to directories are not followed. Returns how many were removed. With `keptFound`,
// sets (*keptFound)[i] when the file kept[i] was found.
int RemoveStagingFilesExcept(const std::string& runDirectory, const std::vector<std::string>& kept,
                             std::vector<bool>* keptFound = nullptr);

}  // namespace velmora::update
