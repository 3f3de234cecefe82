#include "stored_copies.h"

#include <cstdint>

#include "platform/file.h"
#include "progress_line.h"
#include "release_digests.h"

namespace velmora::release {

std::vector<bool> StoredCopiesInPlace(const HashedRelease& release, const std::vector<std::string>& stored,
                                      ReleaseConsole& console, bool quiet) {
  const std::vector<ReleaseFile>& files = release.folder.files;
  std::vector<bool> inPlace(files.size(), false);
  // Only files of the right length are read: any other is written again without a look.
  std::vector<std::size_t> candidates;
  std::vector<std::string> paths;
  std::uint64_t totalBytes = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (stored[i].empty() || platform::FileLength(stored[i]) != static_cast<std::int64_t>(files[i].size)) continue;
    candidates.push_back(i);
    paths.push_back(stored[i]);
    totalBytes += files[i].size;
  }
  if (paths.empty()) return inPlace;
  const bool withSha256 = !release.sha256.empty();
  std::vector<FileDigests> digests;
  {
    ProgressLine line(console, "checking", paths.size(), totalBytes, !quiet);
    update::FingerprintOptions options;
    options.progress = line.Reporter();
    digests = DigestFiles(paths, withSha256, options);
  }
  for (std::size_t k = 0; k < candidates.size(); ++k) {
    const std::size_t i = candidates[k];
    const FileDigests& digest = digests[k];
    inPlace[i] = digest.state == update::FileReadState::Read && digest.bytesRead == files[i].size &&
                 digest.md5 == release.md5[i] && (!withSha256 || digest.sha256 == release.sha256[i]);
  }
  return inPlace;
}

}  // namespace velmora::release
