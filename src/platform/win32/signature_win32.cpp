// ECDSA P-256 with CNG: BCRYPT_ECDSA_P256_ALGORITHM keys imported from BCRYPT_ECCKEY_BLOBs (the raw
// X, Y and d after a small header), SHA-256 digests from BCRYPT_SHA256_ALGORITHM.
#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <vector>

#include "platform/signature.h"

namespace velmora::platform {
namespace {

constexpr ULONG kCoordinateSize = 32;

bool Succeeded(NTSTATUS status) { return status >= 0; }

class Algorithm {
 public:
  explicit Algorithm(const wchar_t* name) {
    if (!Succeeded(BCryptOpenAlgorithmProvider(&handle_, name, nullptr, 0))) handle_ = nullptr;
  }
  ~Algorithm() {
    if (handle_ != nullptr) BCryptCloseAlgorithmProvider(handle_, 0);
  }
  Algorithm(const Algorithm&) = delete;
  Algorithm& operator=(const Algorithm&) = delete;
  BCRYPT_ALG_HANDLE get() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

class Key {
 public:
  Key() = default;
  ~Key() {
    if (handle_ != nullptr) BCryptDestroyKey(handle_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  BCRYPT_KEY_HANDLE* out() { return &handle_; }
  BCRYPT_KEY_HANDLE get() const { return handle_; }

 private:
  BCRYPT_KEY_HANDLE handle_ = nullptr;
};

// The SHA-256 digest of `message`; empty on failure.
std::vector<UCHAR> Sha256(std::string_view message) {
  Algorithm algorithm(BCRYPT_SHA256_ALGORITHM);
  if (algorithm.get() == nullptr) return {};
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (!Succeeded(BCryptCreateHash(algorithm.get(), &hash, nullptr, 0, nullptr, 0, 0))) return {};
  std::vector<UCHAR> digest(32);
  // BCryptHashData wants a non-const pointer; it does not write through it.
  auto* input = reinterpret_cast<PUCHAR>(const_cast<char*>(message.data()));
  const bool done = Succeeded(BCryptHashData(hash, input, static_cast<ULONG>(message.size()), 0)) &&
                    Succeeded(BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0));
  BCryptDestroyHash(hash);
  return done ? digest : std::vector<UCHAR>();
}

// A BCRYPT_ECCKEY_BLOB with `magic`, followed by `keyBytes` (X, Y and, for a private key, d).
std::vector<UCHAR> BlobOf(ULONG magic, std::string_view keyBytes) {
  std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + keyBytes.size());
  BCRYPT_ECCKEY_BLOB header{magic, kCoordinateSize};
  std::memcpy(blob.data(), &header, sizeof(header));
  std::memcpy(blob.data() + sizeof(header), keyBytes.data(), keyBytes.size());
  return blob;
}

bool Import(const Algorithm& algorithm, const wchar_t* blobType, ULONG magic, std::string_view keyBytes, Key& key) {
  std::vector<UCHAR> blob = BlobOf(magic, keyBytes);
  return Succeeded(BCryptImportKeyPair(algorithm.get(), nullptr, blobType, key.out(), blob.data(),
                                       static_cast<ULONG>(blob.size()), 0));
}

}  // namespace

bool VerifyEcdsaP256Sha256(std::string_view publicKey, std::string_view message, std::string_view signature) {
  if (publicKey.size() != kEcdsaP256PublicKeySize || signature.size() != kEcdsaP256SignatureSize) return false;
  Algorithm algorithm(BCRYPT_ECDSA_P256_ALGORITHM);
  Key key;
  if (algorithm.get() == nullptr ||
      !Import(algorithm, BCRYPT_ECCPUBLIC_BLOB, BCRYPT_ECDSA_PUBLIC_P256_MAGIC, publicKey, key)) {
    return false;
  }
  std::vector<UCHAR> digest = Sha256(message);
  if (digest.empty()) return false;
  std::vector<UCHAR> raw(signature.begin(), signature.end());
  return Succeeded(BCryptVerifySignature(key.get(), nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                                         raw.data(), static_cast<ULONG>(raw.size()), 0));
}

std::optional<EcdsaP256KeyPair> GenerateEcdsaP256KeyPair() {
  Algorithm algorithm(BCRYPT_ECDSA_P256_ALGORITHM);
  Key key;
  if (algorithm.get() == nullptr || !Succeeded(BCryptGenerateKeyPair(algorithm.get(), key.out(), 256, 0)) ||
      !Succeeded(BCryptFinalizeKeyPair(key.get(), 0))) {
    return std::nullopt;
  }
  ULONG size = 0;
  if (!Succeeded(BCryptExportKey(key.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, nullptr, 0, &size, 0))) return std::nullopt;
  std::vector<UCHAR> blob(size);
  if (!Succeeded(BCryptExportKey(key.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob.data(), size, &size, 0)) ||
      size != sizeof(BCRYPT_ECCKEY_BLOB) + kEcdsaP256PrivateKeySize) {
    return std::nullopt;
  }
  EcdsaP256KeyPair pair;
  pair.privateKey.assign(reinterpret_cast<const char*>(blob.data()) + sizeof(BCRYPT_ECCKEY_BLOB), kEcdsaP256PrivateKeySize);
  pair.publicKey = pair.privateKey.substr(0, kEcdsaP256PublicKeySize);
  SecureZeroMemory(blob.data(), blob.size());
  return pair;
}

std::string SignEcdsaP256Sha256(std::string_view privateKey, std::string_view message) {
  if (privateKey.size() != kEcdsaP256PrivateKeySize) return {};
  Algorithm algorithm(BCRYPT_ECDSA_P256_ALGORITHM);
  Key key;
  if (algorithm.get() == nullptr ||
      !Import(algorithm, BCRYPT_ECCPRIVATE_BLOB, BCRYPT_ECDSA_PRIVATE_P256_MAGIC, privateKey, key)) {
    return {};
  }
  std::vector<UCHAR> digest = Sha256(message);
  if (digest.empty()) return {};
  std::string signature(kEcdsaP256SignatureSize, '\0');
  ULONG written = 0;
  if (!Succeeded(BCryptSignHash(key.get(), nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                                reinterpret_cast<PUCHAR>(signature.data()), static_cast<ULONG>(signature.size()),
                                &written, 0)) ||
      written != kEcdsaP256SignatureSize) {
    return {};
  }
  return signature;
}

}  // namespace velmora::platform
