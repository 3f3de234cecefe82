#include "install/file_check.h"

#include "platform/file.h"
#include "platform/hash.h"
#include "update/fingerprint.h"

namespace velmora::install {
namespace {

// The raw digest of the whole file with `algorithm`; empty on any failure.
std::string DigestOfFile(const std::string& path, std::uint32_t algorithm, std::uint32_t length) {
  platform::InputFile file;
  if (!file.Open(path)) return {};
  platform::HashComputation hash(algorithm);
  if (update::AddFileToHash(file, hash) < 0) return {};
  return hash.Finish(length);
}

}  // namespace

std::string Md5OfFile(const std::string& path) {
  const std::string digest = DigestOfFile(path, update::kCalgMd5, update::kMd5DigestLength);
  return digest.empty() ? std::string() : update::LowerHexOfDigest(digest);
}

bool FileMatches(const std::string& path, const FileCheck& check) {
  const std::int64_t length = platform::FileLength(path);
  if (length < 0 || (check.size >= 0 && length != check.size)) return false;
  if (check.md5.Checkable() &&
      !check.md5.NamesBytes(DigestOfFile(path, update::kCalgMd5, update::kMd5DigestLength))) {
    return false;
  }
  // A SHA-256 that is listed yet cannot be checked (a damaged record) matches no file.
  if (check.sha256.Listed() &&
      !check.sha256.NamesBytes(DigestOfFile(path, update::kCalgSha256, update::kSha256DigestLength))) {
    return false;
  }
  return true;
}

}  // namespace velmora::install
