// Replacing and removing product files, the running updater's own executable included: a running
// program may be renamed but not overwritten, so its executable is renamed aside first when it
// cannot be replaced in place.
#pragma once

#include <string>

namespace velmora::install {

// Appended to the updater's own executable when it is set aside to be replaced while it runs.
inline constexpr char kSetAsideSuffix[] = ".velmora-old";

// True when `target` (GBK) names the running updater's own executable.
bool IsOwnExecutable(const std::string& target);

// Puts the file `source` in the place of `target` in one rename on the same volume (write-through);
// `target` may be missing. The running updater's executable, which cannot be replaced while it
// runs, is renamed aside first (target + kSetAsideSuffix) and put back when the second rename
// fails. False when nothing changed.
bool PutInPlace(const std::string& source, const std::string& target);

// Removes `target`; the running updater's executable is renamed aside instead. True when nothing
// is left at `target` (also when nothing was there).
bool RemoveTarget(const std::string& target);

// Removes the updater's own executable that an earlier run set aside when it replaced it.
void RemoveSetAsideExecutable();

}  // namespace velmora::install
