#include "update/manifest_signature.h"

#include <atomic>

#include "platform/signature.h"
#include "text/base64.h"

namespace velmora::update {
namespace {

std::atomic<const std::string*> replacedKeyText{nullptr};

std::string_view Trimmed(std::string_view text) {
  constexpr std::string_view kWhitespace = " \t\r\n";
  const std::size_t first = text.find_first_not_of(kWhitespace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kWhitespace) - first + 1);
}

std::optional<std::string> DecodedOfSize(std::string_view text, std::size_t size) {
  std::optional<std::string> bytes = text::Base64Decode(Trimmed(text));
  if (!bytes || bytes->size() != size) return std::nullopt;
  return bytes;
}

}  // namespace

std::optional<std::string> PublicKeyFromText(std::string_view text) {
  return DecodedOfSize(text, platform::kEcdsaP256PublicKeySize);
}

std::string PublicKeyText(const std::string& publicKey) { return text::Base64Encode(publicKey); }

std::optional<std::string> PrivateKeyFromText(std::string_view text) {
  const std::string_view trimmed = Trimmed(text);
  const std::string_view label = kPrivateKeyLabel;
  if (trimmed.substr(0, label.size()) != label) return std::nullopt;
  return DecodedOfSize(trimmed.substr(label.size()), platform::kEcdsaP256PrivateKeySize);
}

std::string PrivateKeyText(const std::string& privateKey) {
  return kPrivateKeyLabel + text::Base64Encode(privateKey) + "\n";
}

std::optional<std::string> SignatureFromText(std::string_view text) {
  return DecodedOfSize(text, platform::kEcdsaP256SignatureSize);
}

std::string SignatureText(const std::string& signature) { return text::Base64Encode(signature) + "\n"; }

bool IsSignedBy(const std::string& publicKey, std::string_view manifestBytes, std::string_view signatureText) {
  const std::optional<std::string> signature = SignatureFromText(signatureText);
  return signature && platform::VerifyEcdsaP256Sha256(publicKey, manifestBytes, *signature);
}

std::optional<std::string> RequiredManifestKey() {
  const std::string* replaced = replacedKeyText.load();
  const std::string_view text = replaced != nullptr ? std::string_view(*replaced) : ConfiguredManifestKeyText();
  if (Trimmed(text).empty()) return std::nullopt;
  // A configured key that does not decode verifies nothing: every manifest is refused.
  return PublicKeyFromText(text).value_or(std::string());
}

void ReplaceRequiredManifestKey(const std::string* text) { replacedKeyText.store(text); }

}  // namespace velmora::update
