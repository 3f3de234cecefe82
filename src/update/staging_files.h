// Where a file is downloaded before it replaces its target: a staging file beside the target (same
// folder, so that putting it in place is a rename on one volume).
//
// A staging file's name says which manifest entry it belongs to, so that a download that was
// interrupted (a dropped connection, a closed window, a killed updater) can be resumed by a later
// run for the same entry, and by no other: "Velmora.dll" of the entry (md5, url) is staged as
// "Velmora.dll.<16 hex digits of the entry>.velmora-part". The update check keeps the staging
// files of the entries it lists for download and removes every other one.
#pragma once

#include <string>
#include <vector>

namespace velmora::update {

inline constexpr char kStagingSuffix[] = ".velmora-part";

// The staging file of `target` (GBK path) for the manifest entry with `md5` and `url`: the
// target's path, ".", the first 16 hex digits of the MD5 of md5 + "\n" + url, and kStagingSuffix.
// Whatever the manifest's texts hold, only hex digits enter the name.
std::string StagingPathOf(const std::string& target, const std::string& md5, const std::string& url);

// Removes every staging file (a file whose name ends in kStagingSuffix) in `runDirectory` and the
// directories below it, except those that `kept` names (paths compared as Windows does, see
// PathKey). Links to directories are not followed. Returns how many were removed.
int RemoveStagingFilesExcept(const std::string& runDirectory, const std::vector<std::string>& kept);

}  // namespace velmora::update
