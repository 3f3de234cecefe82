// The copies that an earlier `publish` stored in the tree: a file already in place with the
// release file's bytes is left exactly as it is (no new bytes, no new modification time), so that
// a sync of the tree to an object store or CDN uploads only what changed.
#pragma once

#include <string>
#include <vector>

#include "hashed_release.h"
#include "release_console.h"

namespace velmora::release {

// For each file of `release`, whether `stored[i]` (GBK; empty: not to be looked at, such as a
// second file of one content and name) already holds its bytes: a file of the same size whose MD5
// and, when the release lists SHA-256, SHA-256, computed from its bytes, are the release file's.
// The name files/<md5>/ alone proves nothing: a copy damaged or cut short (a crash, a failed
// upload, a hand) is written again. The files of the right size are read on every core
// (DigestFiles), with a progress line "checking" unless `quiet`; a file that cannot be read
// counts as not in place.
std::vector<bool> StoredCopiesInPlace(const HashedRelease& release, const std::vector<std::string>& stored,
                                      ReleaseConsole& console, bool quiet);

}  // namespace velmora::release
