// ECDSA signatures on the curve P-256 over SHA-256, provided by the platform layer: CNG on Windows
// (BCryptOpenAlgorithmProvider, BCryptImportKeyPair, BCryptVerifySignature, BCryptSignHash),
// OpenSSL's libcrypto elsewhere. No cryptography of the project's own.
//
// Keys and signatures travel as raw big-endian bytes, the forms CNG uses:
//   public key   64 bytes: the point's X, then Y;
//   private key  96 bytes: X, Y, then the secret scalar d;
//   signature    64 bytes: r, then s.
// All functions are thread-safe.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::platform {

inline constexpr std::size_t kEcdsaP256PublicKeySize = 64;
inline constexpr std::size_t kEcdsaP256PrivateKeySize = 96;
inline constexpr std::size_t kEcdsaP256SignatureSize = 64;

// True only when `signature` is a valid signature of the SHA-256 digest of `message` by the
// holder of `publicKey`. Keys, signatures or points of the wrong form are false, never an error.
bool VerifyEcdsaP256Sha256(std::string_view publicKey, std::string_view message, std::string_view signature);

// A new key pair: its private key (96 bytes) and its public key (64 bytes); nothing on failure.
struct EcdsaP256KeyPair {
  std::string privateKey;
  std::string publicKey;
};
std::optional<EcdsaP256KeyPair> GenerateEcdsaP256KeyPair();

// The signature (64 bytes) of the SHA-256 digest of `message` with `privateKey`; empty on failure
// (a key of the wrong form included).
std::string SignEcdsaP256Sha256(std::string_view privateKey, std::string_view message);

}  // namespace velmora::platform
