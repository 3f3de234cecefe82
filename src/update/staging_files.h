// Where a file is downloaded before it replaces its target: a staging file in a small folder of its
// own below the target's folder (same volume, so that putting it in place is a rename on one
// volume).
//
// A staging file's name says which content it is filling, so that a download that was interrupted
// (a dropped connection, a closed window, a killed updater) can be resumed by a later run for the
// same file content, and by no other: "Bin\Velmora.dll" listed with (md5, sha256, size) is staged as
// "Bin\.velmora-staging\<k1k2>\Velmora.dll.<k1k2...k16>.velmora-part", the k being 16 hex digits of
// that content and the folder named by the first two of them. The URL plays no part: the same file
// from a mirror, a CDN address with a fresh token or a republished manifest resumes what an earlier
// run fetched, and the staged bytes are checked against the entry's digests anyway. The update
// check keeps the staging files of the entries it lists for download and removes every other one.
//
// Why not beside the target: under Wine, creating or renaming to a name new to a folder reads the
// whole folder. A release of 1,000 files in one folder would make every staging file's creation
// read the 1,000 targets and the other staging files; in folders of their own (up to 256 per
// target folder) each creation reads a handful of names.
#pragma once

#include <string>
#include <vector>

#include "state/program_state.h"

namespace velmora::update {

inline constexpr char kStagingSuffix[] = ".velmora-part";
inline constexpr char kStagingFolder[] = ".velmora-staging";

// The staging file of `target` (GBK path) for `entry`'s content: the target's folder, "\",
// kStagingFolder, "\", the first 2 of the key's digits, "\", the target's name, ".", the key, and
// kStagingSuffix. The key is the first 16 hex digits of the MD5 of md5 + "\n" + sha256 + "\n" +
// size (the digests in lower case, the size in decimal, each empty when the entry does not list
// it). Whatever the manifest's texts hold, only hex digits enter the name.
std::string StagingPathOf(const std::string& target, const state::UpdateEntry& entry);

// Makes the folders a staging file (a StagingPathOf path) goes in, where they are missing.
void MakeStagingFolders(const std::string& staging);

// Removes the folders of these staging files that are left empty (once their files are in place).
void RemoveEmptyStagingFolders(const std::vector<std::string>& stagingFiles);

// Removes every staging file (a file whose name ends in kStagingSuffix) in `runDirectory` and the
// directories below it, except those that `kept` names (paths compared as Windows does, see
// PathKey); staging files an earlier version left beside their targets are found the same way.
// The staging folders left empty go too. Links to directories are not followed. Returns how many
// files were removed. With `keptFound`, sets (*keptFound)[i] when the file kept[i] was found.
int RemoveStagingFilesExcept(const std::string& runDirectory, const std::vector<std::string>& kept,
                             std::vector<bool>* keptFound = nullptr);

}  // namespace velmora::update
