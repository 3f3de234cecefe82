// The rule for a channel's name (docs/rollouts.md), shared by the updater and velmora-release so
// that both accept exactly the same names.
//
// A named channel NAME reads its manifest from /download/2099/pro/NAME/up.txt, so the name becomes
// a folder of every site and a segment of an address: the rule keeps it to text that needs no
// escaping, has one spelling on every file system and cannot climb out of the folder.
#pragma once

#include <string>

namespace velmora::update {

// True for 1 to 16 characters, each a lower-case ASCII letter or digit, the first a letter:
// "beta", "rc2", "default" (which names the default channel). "", "Beta", "2beta", "beta-1",
// "../x" and names of 17 characters or more are not. Pure and thread-safe.
bool IsChannelName(const std::string& name);

}  // namespace velmora::update
