#include "install/file_check.h"

#include "platform/file.h"
#include "platform/hash.h"
#include "update/fingerprint.h"

namespace velmora::install {
namespace {

// The digest of the whole file with `algorithm` as lower-case hex; empty on any failure.
std::string DigestOfFile(const std::string& path, std::uint32_t algorithm, std::uint32_t length) {
  platform::InputFile file;
  if (!file.Open(path)) return {};
  platform::HashComputation hash(algorithm);
  if (update::AddFileToHash(file, hash) < 0) return {};
  const std::string digest = hash.Finish(length);
  return digest.empty() ? std::string() : update::LowerHexOfDigest(digest);
}

}  // namespace

std::string Md5OfFile(const std::string& path) { return DigestOfFile(path, update::kCalgMd5, update::kMd5DigestLength); }

bool FileMatches(const std::string& path, const FileCheck& check) {
  const std::int64_t length = platform::FileLength(path);
  if (length < 0 || (check.size >= 0 && length != check.size)) return false;
  if (update::IsHexDigest(check.md5, 2 * update::kMd5DigestLength) && Md5OfFile(path) != check.md5) return false;
  if (!check.sha256.empty() &&
      DigestOfFile(path, update::kCalgSha256, update::kSha256DigestLength) != check.sha256) {
    return false;
  }
  return true;
}

}  // namespace velmora::install
