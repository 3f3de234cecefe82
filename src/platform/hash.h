// Message digests, provided by the platform layer: CryptoAPI on Windows, libcrypto (EVP) elsewhere.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace velmora::platform {

// Algorithm identifiers are Windows' ALG_ID values; the POSIX layer knows these three.
inline constexpr std::uint32_t kCalgMd5 = 0x8003;     // CALG_MD5
inline constexpr std::uint32_t kCalgSha1 = 0x8004;    // CALG_SHA1
inline constexpr std::uint32_t kCalgSha256 = 0x800C;  // CALG_SHA_256

// One digest computation: construct, Add the data in as many pieces as convenient, then Finish.
// Owns its provider and hash object and releases them when destroyed. Not thread-safe; separate
// computations may run on separate threads.
class HashComputation {
 public:
  explicit HashComputation(std::uint32_t algorithmId);
  ~HashComputation();
  HashComputation(const HashComputation&) = delete;
  HashComputation& operator=(const HashComputation&) = delete;

  // False once any step has failed (no provider, unknown algorithm, a failed call).
  bool Ok() const;
  bool Add(std::string_view data);
  // The raw digest, read into a buffer of `digestLength` bytes: empty when that is too small for
  // the algorithm's digest or on any failure; a larger buffer gets the digest's own length.
  std::string Finish(std::uint32_t digestLength);
  // The digest of what has been added so far, as Finish would give it, while the computation goes
  // on (CryptDuplicateHash, EVP_MD_CTX_copy_ex); empty on any failure.
  std::string DigestSoFar(std::uint32_t digestLength) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace velmora::platform
