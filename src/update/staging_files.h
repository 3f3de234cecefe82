// Where a file is downloaded before it replaces its target: a staging file beside the target (same
// folder, so that putting it in place is a rename on one volume). The update check removes the
// staging files that an interrupted run left behind; the downloads write and install them.
#pragma once

#include <string>

namespace velmora::update {

inline constexpr char kStagingSuffix[] = ".velmora-part";

// The staging file of `target` (GBK path): the target's path with kStagingSuffix.
std::string StagingPathOf(const std::string& target);

// Removes the staging file of `target` if there is one.
void RemoveStagingLeftover(const std::string& target);

}  // namespace velmora::update
