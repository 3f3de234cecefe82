#include "update/signature_set.h"

#include <algorithm>

#include "platform/signature.h"
#include "update/manifest_signature.h"

namespace velmora::update {
namespace {

std::string_view Trimmed(std::string_view text) {
  constexpr std::string_view kWhitespace = " \t\r";
  const std::size_t first = text.find_first_not_of(kWhitespace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kWhitespace) - first + 1);
}

}  // namespace

std::optional<std::vector<SignatureLine>> ParseSignatureFile(std::string_view text) {
  if (text.size() > kSignatureFileSizeLimit) return std::nullopt;
  std::vector<SignatureLine> lines;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = Trimmed(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    if (line.empty()) continue;
    SignatureLine parsed;
    const std::size_t space = line.find_first_of(" \t");
    if (space != std::string_view::npos) {
      parsed.keyId = std::string(line.substr(0, space));
      if (parsed.keyId.empty()) return std::nullopt;
    }
    const std::string_view encoded = space == std::string_view::npos ? line : line.substr(space + 1);
    const std::optional<std::string> signature = SignatureFromText(encoded);
    if (!signature) return std::nullopt;
    parsed.signature = *signature;
    lines.push_back(std::move(parsed));
  }
  return lines;
}

std::string SignatureFileText(const std::vector<SignatureLine>& lines) {
  std::string text;
  for (const SignatureLine& line : lines) {
    text += (line.keyId.empty() ? std::string() : line.keyId + " ") + SignatureText(line.signature);
  }
  return text;
}

bool MeetsThreshold(const RootRole& role, const std::map<std::string, std::string>& keys, std::string_view message,
                    std::string_view signatureText) {
  const std::optional<std::vector<SignatureLine>> lines = ParseSignatureFile(signatureText);
  if (!lines) return false;
  std::vector<std::string> counted;
  for (const SignatureLine& line : *lines) {
    const std::string& id = line.keyId.empty() && role.keyIds.size() == 1 ? role.keyIds.front() : line.keyId;
    if (std::find(role.keyIds.begin(), role.keyIds.end(), id) == role.keyIds.end()) continue;
    if (std::find(counted.begin(), counted.end(), id) != counted.end()) continue;
    const auto key = keys.find(id);
    if (key == keys.end() || !platform::VerifyEcdsaP256Sha256(key->second, message, line.signature)) continue;
    counted.push_back(id);
    if (counted.size() >= role.threshold) return true;
  }
  return false;
}

}  // namespace velmora::update
