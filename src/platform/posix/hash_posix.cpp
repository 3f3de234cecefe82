// Digests with libcrypto's EVP interface.
#include "platform/hash.h"

#include <openssl/evp.h>

namespace velmora::platform {
namespace {

const EVP_MD* DigestFor(std::uint32_t algorithmId) {
  switch (algorithmId) {
    case kCalgMd5:
      return EVP_md5();
    case kCalgSha1:
      return EVP_sha1();
    case kCalgSha256:
      return EVP_sha256();
    default:
      return nullptr;
  }
}

}  // namespace

struct HashComputation::State {
  EVP_MD_CTX* context = nullptr;
  bool ok = false;
  ~State() { EVP_MD_CTX_free(context); }
};

HashComputation::HashComputation(std::uint32_t algorithmId) : state_(std::make_unique<State>()) {
  const EVP_MD* digest = DigestFor(algorithmId);
  if (digest == nullptr) return;
  state_->context = EVP_MD_CTX_new();
  state_->ok = state_->context != nullptr && EVP_DigestInit_ex(state_->context, digest, nullptr) == 1;
}

HashComputation::~HashComputation() = default;

bool HashComputation::Ok() const { return state_->ok; }

bool HashComputation::Add(std::string_view data) {
  if (!state_->ok) return false;
  if (!data.empty()) state_->ok = EVP_DigestUpdate(state_->context, data.data(), data.size()) == 1;
  return state_->ok;
}

std::string HashComputation::Finish(std::uint32_t digestLength) {
  if (!state_->ok) return {};
  state_->ok = false;  // a computation finishes once
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(state_->context, digest, &length) != 1) return {};
  if (digestLength < length) return {};  // CryptGetHashParam fails with ERROR_MORE_DATA here
  return std::string(reinterpret_cast<const char*>(digest), length);
}

std::string HashComputation::DigestSoFar(std::uint32_t digestLength) const {
  if (!state_->ok) return {};
  EVP_MD_CTX* copy = EVP_MD_CTX_new();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const bool got = copy != nullptr && EVP_MD_CTX_copy_ex(copy, state_->context) == 1 &&
                   EVP_DigestFinal_ex(copy, digest, &length) == 1;
  EVP_MD_CTX_free(copy);
  if (!got || digestLength < length) return {};
  return std::string(reinterpret_cast<const char*>(digest), length);
}

}  // namespace velmora::platform
