// Digests with CryptoAPI: a verify-only provider (retried once with flags 0), a hash object,
// CryptHashData for each piece, HP_HASHVAL, then destroy. MD5 and SHA-1 use an RSA_FULL provider;
// SHA-256 needs an RSA_AES one (RSA_FULL has no SHA-2).
//
// Acquiring a provider costs about 2 ms under Wine (20,000 files: 40 s), so each kind is acquired
// once for the whole process, on first use, and shared by every thread: a provider may be used
// from several threads, and each computation has a hash object of its own. Providers are released
// by the system when the process ends (a thread_local owner would be destroyed, under MinGW, after
// its thread's storage is gone).
#include "platform/hash.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>

namespace velmora::platform {
namespace {

HCRYPTPROV AcquireProvider(DWORD type) {
  // Empty container and provider names: the default provider, and no key container is needed
  // for hashing.
  HCRYPTPROV handle = 0;
  if (!CryptAcquireContextA(&handle, "", "", type, CRYPT_VERIFYCONTEXT) &&
      !CryptAcquireContextA(&handle, "", "", type, 0)) {
    handle = 0;
  }
  return handle;
}

HCRYPTPROV ProviderFor(ALG_ID algorithm) {
  if (algorithm == CALG_SHA_256) {
    static const HCRYPTPROV aes = AcquireProvider(PROV_RSA_AES);
    return aes;
  }
  static const HCRYPTPROV full = AcquireProvider(PROV_RSA_FULL);
  return full;
}

class CryptHash {
 public:
  CryptHash(HCRYPTPROV provider, ALG_ID algorithm) {
    if (provider == 0 || !CryptCreateHash(provider, algorithm, 0, 0, &handle_)) handle_ = 0;
  }
  ~CryptHash() {
    if (handle_ != 0) CryptDestroyHash(handle_);
  }
  CryptHash(const CryptHash&) = delete;
  CryptHash& operator=(const CryptHash&) = delete;
  HCRYPTHASH Get() const { return handle_; }

 private:
  HCRYPTHASH handle_ = 0;
};

}  // namespace

struct HashComputation::State {
  explicit State(ALG_ID algorithm) : hash(ProviderFor(algorithm), algorithm), ok(hash.Get() != 0) {}
  CryptHash hash;
  bool ok;
};

HashComputation::HashComputation(std::uint32_t algorithmId)
    : state_(std::make_unique<State>(static_cast<ALG_ID>(algorithmId))) {}

HashComputation::~HashComputation() = default;

bool HashComputation::Ok() const { return state_->ok; }

bool HashComputation::Add(std::string_view data) {
  if (!state_->ok) return false;
  if (data.empty()) {
    // An empty buffer is hashed as zero bytes.
    static const BYTE kNothing = 0;
    state_->ok = CryptHashData(state_->hash.Get(), &kNothing, 0, 0) != FALSE;
    return state_->ok;
  }
  constexpr std::size_t kLargestPiece = 1u << 30;  // CryptHashData takes a DWORD length
  for (std::size_t offset = 0; offset < data.size() && state_->ok; offset += kLargestPiece) {
    const std::size_t piece = std::min(kLargestPiece, data.size() - offset);
    state_->ok = CryptHashData(state_->hash.Get(), reinterpret_cast<const BYTE*>(data.data() + offset),
                               static_cast<DWORD>(piece), 0) != FALSE;
  }
  return state_->ok;
}

std::string HashComputation::Finish(std::uint32_t digestLength) {
  if (!state_->ok || digestLength == 0) return {};
  state_->ok = false;  // a computation finishes once
  std::string digest(digestLength, '\0');
  DWORD length = digestLength;
  if (!CryptGetHashParam(state_->hash.Get(), HP_HASHVAL, reinterpret_cast<BYTE*>(digest.data()), &length, 0)) {
    return {};
  }
  digest.resize(std::min<std::size_t>(length, digestLength));
  return digest;
}

std::string HashComputation::DigestSoFar(std::uint32_t digestLength) const {
  if (!state_->ok || digestLength == 0) return {};
  HCRYPTHASH copy = 0;
  if (!CryptDuplicateHash(state_->hash.Get(), nullptr, 0, &copy)) return {};
  std::string digest(digestLength, '\0');
  DWORD length = digestLength;
  const BOOL got = CryptGetHashParam(copy, HP_HASHVAL, reinterpret_cast<BYTE*>(digest.data()), &length, 0);
  CryptDestroyHash(copy);
  if (!got) return {};
  digest.resize(std::min<std::size_t>(length, digestLength));
  return digest;
}

}  // namespace velmora::platform
