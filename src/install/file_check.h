// What a file must be to be taken as a release's file: its size, MD5 and SHA-256, each only when
// known. Used to verify staged files before a commit goes forward and kept files before a rollback.
#pragma once

#include <cstdint>
#include <string>

#include "state/listed_digest.h"

namespace velmora::install {

struct FileCheck {
  std::int64_t size = -1;  // -1: not known
  state::ListedMd5 md5;        // a text that cannot be checked is not checked
  state::ListedSha256 sha256;  // not listed: not known; listed, it must name the file
};

// The file at `path` (GBK) exists, can be read whole and passes every check that `check` gives.
bool FileMatches(const std::string& path, const FileCheck& check);

// The MD5 of the file at `path` as 32 lower-case hex digits; empty when it cannot be read whole.
std::string Md5OfFile(const std::string& path);

}  // namespace velmora::install
