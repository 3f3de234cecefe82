// ECDSA P-256 with libcrypto's EVP interface (OpenSSL 3): raw keys are turned into EVP_PKEYs from
// their parameters, raw signatures into the DER form that EVP_DigestVerify takes and back.
#include "platform/signature.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <memory>

namespace velmora::platform {
namespace {

constexpr std::size_t kCoordinateSize = 32;

struct Deleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
  void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
  void operator()(OSSL_PARAM_BLD* builder) const { OSSL_PARAM_BLD_free(builder); }
  void operator()(OSSL_PARAM* parameters) const { OSSL_PARAM_free(parameters); }
  void operator()(BIGNUM* number) const { BN_clear_free(number); }
  void operator()(ECDSA_SIG* signature) const { ECDSA_SIG_free(signature); }
};
template <typename T>
using Owned = std::unique_ptr<T, Deleter>;

const unsigned char* Bytes(std::string_view data) { return reinterpret_cast<const unsigned char*>(data.data()); }

// The key with the public point X||Y and, when `secret` is not empty, the private scalar.
Owned<EVP_PKEY> KeyOf(std::string_view point, std::string_view secret) {
  std::string encoded(1, '\x04');  // an uncompressed point
  encoded.append(point);
  Owned<OSSL_PARAM_BLD> builder(OSSL_PARAM_BLD_new());
  Owned<BIGNUM> scalar(secret.empty() ? nullptr : BN_bin2bn(Bytes(secret), static_cast<int>(secret.size()), nullptr));
  if (!builder || (!secret.empty() && !scalar) ||
      OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) != 1 ||
      OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, encoded.data(), encoded.size()) != 1 ||
      (scalar && OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_PRIV_KEY, scalar.get()) != 1)) {
    return nullptr;
  }
  Owned<OSSL_PARAM> parameters(OSSL_PARAM_BLD_to_param(builder.get()));
  Owned<EVP_PKEY_CTX> context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* key = nullptr;
  if (!parameters || !context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
      EVP_PKEY_fromdata(context.get(), &key, scalar ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, parameters.get()) != 1) {
    return nullptr;
  }
  Owned<EVP_PKEY> owned(key);
  // The point must lie on the curve (fromdata does not check it by itself).
  Owned<EVP_PKEY_CTX> check(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
  if (!check || EVP_PKEY_public_check(check.get()) != 1) return nullptr;
  return owned;
}

std::string Padded(const BIGNUM* number) {
  std::string bytes(kCoordinateSize, '\0');
  if (BN_bn2binpad(number, reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(kCoordinateSize)) !=
      static_cast<int>(kCoordinateSize)) {
    return {};
  }
  return bytes;
}

}  // namespace

bool VerifyEcdsaP256Sha256(std::string_view publicKey, std::string_view message, std::string_view signature) {
  if (publicKey.size() != kEcdsaP256PublicKeySize || signature.size() != kEcdsaP256SignatureSize) return false;
  const Owned<EVP_PKEY> key = KeyOf(publicKey, {});
  if (!key) return false;

  Owned<ECDSA_SIG> parsed(ECDSA_SIG_new());
  BIGNUM* r = BN_bin2bn(Bytes(signature), kCoordinateSize, nullptr);
  BIGNUM* s = BN_bin2bn(Bytes(signature) + kCoordinateSize, kCoordinateSize, nullptr);
  if (!parsed || !r || !s || ECDSA_SIG_set0(parsed.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return false;
  }
  unsigned char* der = nullptr;
  const int derLength = i2d_ECDSA_SIG(parsed.get(), &der);
  if (derLength <= 0) return false;
  const std::unique_ptr<unsigned char, void (*)(unsigned char*)> derOwned(der, [](unsigned char* p) { OPENSSL_free(p); });

  Owned<EVP_MD_CTX> context(EVP_MD_CTX_new());
  return context && EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1 &&
         EVP_DigestVerify(context.get(), der, static_cast<std::size_t>(derLength), Bytes(message), message.size()) == 1;
}

std::optional<EcdsaP256KeyPair> GenerateEcdsaP256KeyPair() {
  Owned<EVP_PKEY> key(EVP_EC_gen("prime256v1"));
  if (!key) return std::nullopt;
  BIGNUM* x = nullptr;
  BIGNUM* y = nullptr;
  BIGNUM* d = nullptr;
  const bool read = EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_EC_PUB_X, &x) == 1 &&
                    EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_EC_PUB_Y, &y) == 1 &&
                    EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_PRIV_KEY, &d) == 1;
  const Owned<BIGNUM> ownedX(x), ownedY(y), ownedD(d);
  if (!read) return std::nullopt;
  EcdsaP256KeyPair pair;
  pair.publicKey = Padded(x) + Padded(y);
  pair.privateKey = pair.publicKey + Padded(d);
  if (pair.privateKey.size() != kEcdsaP256PrivateKeySize) return std::nullopt;
  return pair;
}

std::string SignEcdsaP256Sha256(std::string_view privateKey, std::string_view message) {
  if (privateKey.size() != kEcdsaP256PrivateKeySize) return {};
  const Owned<EVP_PKEY> key = KeyOf(privateKey.substr(0, kEcdsaP256PublicKeySize), privateKey.substr(kEcdsaP256PublicKeySize));
  if (!key) return {};
  Owned<EVP_MD_CTX> context(EVP_MD_CTX_new());
  std::size_t derLength = 0;
  if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &derLength, Bytes(message), message.size()) != 1) {
    return {};
  }
  std::string der(derLength, '\0');
  if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(der.data()), &derLength, Bytes(message),
                     message.size()) != 1) {
    return {};
  }
  const unsigned char* next = Bytes(der);
  Owned<ECDSA_SIG> parsed(d2i_ECDSA_SIG(nullptr, &next, static_cast<long>(derLength)));
  if (!parsed) return {};
  const std::string signature = Padded(ECDSA_SIG_get0_r(parsed.get())) + Padded(ECDSA_SIG_get0_s(parsed.get()));
  return signature.size() == kEcdsaP256SignatureSize ? signature : std::string();
}

}  // namespace velmora::platform
