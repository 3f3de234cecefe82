#include "update/fingerprint.h"

#include <memory>

#include "platform/file.h"
#include "platform/hash.h"

namespace velmora::update {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

std::string HexOf(const std::string& digest, std::uint32_t digestLength) {
  std::string hex;
  hex.reserve(2 * digestLength);
  for (unsigned char byte : digest) {
    hex.push_back(kHexDigits[byte >> 4]);
    hex.push_back(kHexDigits[byte & 15]);
  }
  return hex;
}

std::string FormatMd5(std::string hex, bool upper, bool middle16) {
  if (!upper) {
    for (char& digit : hex) {
      if (digit >= 'A' && digit <= 'F') digit = static_cast<char>(digit - 'A' + 'a');
    }
  }
  if (middle16) return hex.size() >= 24 ? hex.substr(8, 16) : std::string();
  return hex;
}

}  // namespace

std::string HashBytes(std::string_view data, std::uint32_t algorithmId, std::uint32_t digestLength) {
  platform::HashComputation hash(algorithmId);
  if (!hash.Add(data)) return {};
  const std::string digest = hash.Finish(digestLength);
  return digest.empty() ? std::string() : HexOf(digest, digestLength);
}

std::string Md5Hex(std::string_view data, bool upper, bool middle16) {
  return FormatMd5(HashBytes(data, kCalgMd5, kMd5DigestLength), upper, middle16);
}

std::string LowerHexOfDigest(const std::string& digest) {
  return FormatMd5(HexOf(digest, static_cast<std::uint32_t>(digest.size())), false, false);
}

std::string Md5HexOfDigest(const std::string& digest) {
  if (digest.size() != kMd5DigestLength) return {};
  return FormatMd5(HexOf(digest, kMd5DigestLength), false, false);
}

std::string LowerCaseDigest(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'F') {
      c = static_cast<char>(c - 'A' + 'a');
    } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
      return std::string(text);
    }
  }
  return lower;
}

std::int64_t AddFileToHash(platform::InputFile& file, platform::HashComputation& hash) {
  constexpr std::size_t kPieceSize = 1 << 20;
  const auto buffer = std::make_unique<char[]>(kPieceSize);
  std::int64_t added = 0;
  for (;;) {
    const std::int64_t got = file.Read(buffer.get(), kPieceSize);
    if (got < 0) return -1;
    if (got == 0) return added;
    if (!hash.Add(std::string_view(buffer.get(), static_cast<std::size_t>(got)))) return -1;
    added += got;
  }
}

std::string Md5HexOfFile(const std::string& path) {
  platform::InputFile file;
  if (!file.Open(path)) return Md5Hex({});

  platform::HashComputation hash(kCalgMd5);
  if (AddFileToHash(file, hash) < 0) return {};
  const std::string digest = hash.Finish(kMd5DigestLength);
  return digest.empty() ? std::string() : FormatMd5(HexOf(digest, kMd5DigestLength), false, false);
}

}  // namespace velmora::update
