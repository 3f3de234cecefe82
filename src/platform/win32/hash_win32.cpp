// Digests with CryptoAPI: a verify-only RSA_FULL provider (retried once with flags 0), a hash
// object, CryptHashData for each piece, HP_HASHVAL, then destroy.
//
// Acquiring a provider costs about 2 ms under Wine (20,000 files: 40 s), so each thread acquires
// one the first time it hashes and keeps it until it ends.
#include "platform/hash.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>

namespace velmora::platform {
namespace {

class CryptProvider {
 public:
  CryptProvider() {
    // Empty container and provider names: the default provider, and no key container is needed
    // for hashing.
    if (!CryptAcquireContextA(&handle_, "", "", PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
        !CryptAcquireContextA(&handle_, "", "", PROV_RSA_FULL, 0)) {
      handle_ = 0;
    }
  }
  ~CryptProvider() {
    if (handle_ != 0) CryptReleaseContext(handle_, 0);
  }
  CryptProvider(const CryptProvider&) = delete;
  CryptProvider& operator=(const CryptProvider&) = delete;
  HCRYPTPROV Get() const { return handle_; }

 private:
  HCRYPTPROV handle_ = 0;
};

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

// The calling thread's provider, acquired on first use and released when the thread ends.
static HCRYPTPROV ThreadProvider() {
  thread_local const CryptProvider provider;
  return provider.Get();
}

struct HashComputation::State {
  explicit State(ALG_ID algorithm) : hash(ThreadProvider(), algorithm), ok(hash.Get() != 0) {}
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

}  // namespace velmora::platform
