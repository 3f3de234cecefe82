// velmora-release verify SITE [--root FILE]: the root chain and the manifests' signatures of a
// published tree, as an updater sees them (docs/signing.md).
//
//   - SITE/download/2099/pro/root/1.json (with --root: the record the builds carry, which 1.json
//     must equal byte for byte) is read, then each next version in turn, as far as the files go:
//     every one must say its version, and be signed by the threshold of the previous root's
//     `root` keys and by that of its own (update/root_chain.h). At most 1,024 steps.
//   - A record above the newest taken one that an updater never reaches (a gap) is a problem.
//   - The newest root must not have expired.
//   - Every channel's manifest (up.txt, NAME/up.txt) must carry signatures by the `release`
//     threshold of the newest root.
#pragma once

#include "command_line.h"
#include "release_console.h"

namespace velmora::release {

// Prints a line per root and channel and one per problem; kExitSuccess when there is none,
// kExitFailed otherwise, kExitUsage for a SITE that is not a folder.
int RunChainCheck(const CommandLine& line, ReleaseConsole& console);

}  // namespace velmora::release
