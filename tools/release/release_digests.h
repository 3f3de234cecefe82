// The digests of a release's files: MD5 (what the updater compares) and, on request, SHA-256 (what
// it checks a download against), both from one read of each file, on every core.
//
// Both digests of a file come from the same bytes, so a file that changes while a release is
// hashed can never get an MD5 of one content and a SHA-256 of another (the updater would then
// download it on every run and refuse it every time).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "update/file_fingerprints.h"

namespace velmora::release {

struct FileDigests {
  update::FileReadState state = update::FileReadState::Missing;
  std::string md5;     // as update::Md5HexOfFile gives it (the empty data's digest for a missing file)
  std::string sha256;  // 64 lower-case hex digits when read and asked for; empty otherwise
  std::uint64_t bytesRead = 0;
};

// Whether this system's hash provider computes SHA-256 (checked once). A Windows provider
// without it gives every file a failed read when SHA-256 is asked for.
bool Sha256Available();

// The digests of the files at `paths` (GBK), in the order of `paths`. Uses as many threads as the
// update check (update::FingerprintThreadCount), each reading through one 128 KiB buffer, so memory
// stays bounded. `options.progress`, when set, is called on the calling thread while the files are
// hashed and once at the end. Blocks until all are done. Thread-safe.
std::vector<FileDigests> DigestFiles(const std::vector<std::string>& paths, bool withSha256,
                                     const update::FingerprintOptions& options = {});

}  // namespace velmora::release
