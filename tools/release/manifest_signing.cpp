#include "manifest_signing.h"

#include "platform/file.h"
#include "platform/signature.h"
#include "release_files.h"
#include "text/encoding.h"
#include "update/manifest_freshness.h"
#include "update/manifest_signature.h"
#include "update/signature_set.h"

namespace velmora::release {

std::string PublicKeyOf(const std::string& privateKey) {
  return privateKey.substr(0, platform::kEcdsaP256PublicKeySize);
}

bool SignManifestBytes(const std::vector<std::string>& privateKeys, std::string_view manifestBytes,
                       std::string& signatureText, std::string& error) {
  std::vector<update::SignatureLine> lines;
  for (const std::string& privateKey : privateKeys) {
    const std::string signature = platform::SignEcdsaP256Sha256(privateKey, manifestBytes);
    if (signature.empty()) {
      error = "the key could not sign (it is not a valid P-256 key)";
      return false;
    }
    if (!platform::VerifyEcdsaP256Sha256(PublicKeyOf(privateKey), manifestBytes, signature)) {
      error = "the key file's public half does not belong to its secret half: the signature would not verify";
      return false;
    }
    lines.push_back({privateKeys.size() == 1 ? std::string() : update::KeyIdOf(PublicKeyOf(privateKey)), signature});
  }
  signatureText = update::SignatureFileText(lines);
  return !lines.empty();
}

bool HasSignatureBy(const std::string& publicKey, std::string_view bytes, std::string_view signatureText) {
  const std::string id = update::KeyIdOf(publicKey);
  return update::MeetsThreshold(update::RootRole{{id}, 1}, {{id, publicKey}}, bytes, signatureText);
}

bool WriteManifestFiles(const std::string& path, const std::string& bytes,
                        const std::optional<std::string>& signatureText, SignatureFileChange& change,
                        std::string& error) {
  const std::string signaturePath = path + update::kSignatureSuffix;
  change = SignatureFileChange::None;
  if (!signatureText) {
    if (!WriteFileReplacing(path, bytes, error)) return false;
    if (platform::FileLength(signaturePath) >= 0) {
      if (!platform::RemoveFile(signaturePath)) {
        error = "cannot remove " + text::NarrowToUtf8(signaturePath) + ", which signs the manifest it replaced";
        return false;
      }
      change = SignatureFileChange::RemovedStale;
    }
    return true;
  }
  if (!StageFile(path, bytes, error)) return false;
  if (!StageFile(signaturePath, *signatureText, error)) {
    DiscardStaged(path);
    return false;
  }
  // The manifest first, the signature last: the order in which an updater fetches them. A client
  // gets a mismatched pair when exactly one of its two requests comes after its file's rename.
  // With r the time between its two requests and d that between the two renames, renaming in
  // the fetching order gives a mismatch only to a client whose requests span both renames or fall
  // between them (a window of |r - d|); the other order gives one to every client whose requests
  // overlap the renames at all (r + d). Never worse, and far better when the two land about a
  // round trip apart (an upload to an object store). A client that still gets one fetches both
  // again after a pause (update/manifest.cpp).
  if (!ReplaceWithStaged(path, error)) {
    DiscardStaged(signaturePath);
    return false;
  }
  if (!ReplaceWithStaged(signaturePath, error)) {
    error += "; the manifest beside it is already the new one, so updaters built with a key refuse it until this is "
             "run again";
    return false;
  }
  change = SignatureFileChange::Written;
  return true;
}

std::string DescribeSigning(const std::string& shownPath, const ManifestContent& content, SignatureFileChange change) {
  std::string line = change == SignatureFileChange::Written ? "signed: " + shownPath + update::kSignatureSuffix : "";
  if (content.serial) line += (line.empty() ? "" : "; ") + std::string("serial ") + std::to_string(*content.serial);
  if (content.expires) line += (line.empty() ? "" : ", ") + std::string("expires ") + update::FormatUtcTime(*content.expires);
  if (!line.empty()) line += "\n";
  if (change == SignatureFileChange::RemovedStale) {
    line += "removed " + shownPath + update::kSignatureSuffix + ", which signed the manifest it replaced\n";
  }
  return line;
}

}  // namespace velmora::release
