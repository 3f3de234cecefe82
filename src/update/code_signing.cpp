#include "update/code_signing.h"

#include <atomic>

#include "platform/code_signature.h"

namespace velmora::update {
namespace {

std::atomic<const std::string*> replacedSubject{nullptr};

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  const std::string_view tail = text.substr(text.size() - suffix.size());
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    const char c = tail[i] >= 'A' && tail[i] <= 'Z' ? static_cast<char>(tail[i] - 'A' + 'a') : tail[i];
    if (c != suffix[i]) return false;
  }
  return true;
}

}  // namespace

void ReplaceCodeSigningSubject(const std::string* subject) { replacedSubject.store(subject); }

std::string CodeSigningSubject() {
  const std::string* replaced = replacedSubject.load();
  return replaced != nullptr ? *replaced : std::string(ConfiguredCodeSigningSubject());
}

bool IsProgramFile(std::string_view target) { return EndsWithNoCase(target, ".exe") || EndsWithNoCase(target, ".dll"); }

std::string CodeSigningProblem(const std::string& file, const std::string& target) {
  const std::string subject = CodeSigningSubject();
  if (subject.empty() || !IsProgramFile(target)) return {};
  const platform::CodeSignature signature = platform::ReadCodeSignature(file);
  const std::string detail = " (" + signature.detail + ")";
  switch (signature.status) {
    case platform::CodeSignatureStatus::Valid:
      if (signature.signer == subject) return {};
      return "signed by \"" + signature.signer + "\", not by \"" + subject + "\"" + detail;
    case platform::CodeSignatureStatus::Unsigned: return "not signed" + detail;
    case platform::CodeSignatureStatus::BadDigest: return "changed after it was signed" + detail;
    case platform::CodeSignatureStatus::Refused: return "its signature was refused" + detail;
    case platform::CodeSignatureStatus::Unchecked: break;
  }
  return "its signature could not be checked" + detail;
}

}  // namespace velmora::update
