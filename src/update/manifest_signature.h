// A manifest's detached signature, and the text forms of the keys and signatures that the updater
// and the publisher's tool exchange (docs/signing.md):
//   public key   (the build option VELMORA_MANIFEST_PUBLIC_KEY) Base64 of the 64-byte public key;
//   private key  (a file)  "velmora-ecdsa-p256-private-key " + Base64 of the 96-byte private key;
//   signature    (the ".sig" file beside the manifest) Base64 of the 64-byte signature.
// Whitespace around each text is allowed (a file may end with a newline). The signature is of the
// manifest's exact bytes, ECDSA P-256 over SHA-256 (platform/signature.h).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmora::update {

inline constexpr char kSignatureSuffix[] = ".sig";
inline constexpr char kPrivateKeyLabel[] = "velmora-ecdsa-p256-private-key ";

std::optional<std::string> PublicKeyFromText(std::string_view text);
std::string PublicKeyText(const std::string& publicKey);

std::optional<std::string> PrivateKeyFromText(std::string_view text);
std::string PrivateKeyText(const std::string& privateKey);

std::optional<std::string> SignatureFromText(std::string_view text);
// The signature file's text: its Base64 and a newline.
std::string SignatureText(const std::string& signature);

// True only when `signatureText` holds a valid signature of `manifestBytes` by `publicKey`.
bool IsSignedBy(const std::string& publicKey, std::string_view manifestBytes, std::string_view signatureText);

// The public key the updater was built to require (the build option, or the test's key), decoded;
// nothing when none is configured. A configured text that does not decode gives an empty key, which
// no signature matches (the build refuses such a text, so it should never get that far).
std::optional<std::string> RequiredManifestKey();

// Tests: `text` replaces the configured key's text until called with nullptr.
void ReplaceRequiredManifestKey(const std::string* text);

// The configured key's text (update/manifest_key.cpp, one per program); empty: none.
std::string_view ConfiguredManifestKeyText();

}  // namespace velmora::update
