// File fingerprints: the MD5 digest of some bytes as hex text, as the manifest gives it.
//
// Failures give the empty text, which never equals a manifest digest, so a file that cannot be
// hashed is listed for update. All functions are thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::platform {
class HashComputation;
class InputFile;
}

namespace velmora::update {

inline constexpr std::uint32_t kCalgMd5 = 0x8003;
inline constexpr std::uint32_t kMd5DigestLength = 16;
inline constexpr std::uint32_t kCalgSha256 = 0x800C;
inline constexpr std::uint32_t kSha256DigestLength = 32;

// 2 x digestLength upper-case hex digits of the digest of `data` with the platform's algorithm
// `algorithmId` (an ALG_ID); empty on any failure, or when digestLength is too small for it.
std::string HashBytes(std::string_view data, std::uint32_t algorithmId, std::uint32_t digestLength);

// The MD5 digest of `data`: 32 lower-case hex digits, upper-case on request; with `middle16` only
// the 16 digits from offset 8 ("3cd24fb0d6963f7d" for "abc").
std::string Md5Hex(std::string_view data, bool upper = false, bool middle16 = false);

// A raw 16-byte MD5 digest (HashComputation::Finish) as Md5Hex writes it: 32 lower-case hex
// digits; empty when `digest` is not 16 bytes long.
std::string Md5HexOfDigest(const std::string& digest);

// A raw digest of any length as lower-case hex digits (a SHA-256 digest: 64 of them).
std::string LowerHexOfDigest(const std::string& digest);

// `text` in lower case when it is hex digits only; any other text is returned as it is. For hex
// that this program or a tool computed; a digest a manifest lists is read once into a
// state::ListedDigest.
std::string LowerCaseDigest(std::string_view text);

// Md5Hex of the bytes of the file at `path` (GBK), read piece by piece: memory stays bounded
// whatever the file's size. A missing or unreadable file hashes like empty data, and a file that
// fails part way gives the empty text.
std::string Md5HexOfFile(const std::string& path);

// Adds the rest of the open `file` to `hash`, piece by piece. Returns how many bytes were added,
// or -1 when a read or the hash failed part way.
std::int64_t AddFileToHash(platform::InputFile& file, platform::HashComputation& hash);

}  // namespace velmora::update
