// velmora-release sign MANIFEST --key KEY_FILE...
// velmora-release sign FILE --signature DER_FILE --public-key KEY
//
// Writes MANIFEST.sig: the signature of the manifest file's exact bytes, written under a
// temporary name and renamed, so no half-written signature is ever in its place.
#include "command_support.h"
#include "der_signature.h"
#include "manifest_checks.h"
#include "manifest_reader.h"
#include "manifest_signing.h"
#include "platform/directory_walk.h"
#include "platform/file.h"
#include "platform/signature.h"
#include "private_key_file.h"
#include "release_commands.h"
#include "public_key_argument.h"
#include "release_files.h"
#include "root_thresholds.h"
#include "update/manifest_freshness.h"
#include "update/manifest_signature.h"
#include "update/root_record.h"
#include "update/signature_set.h"

namespace velmora::release {
namespace {

// Why an updater with a key would still refuse the signed manifest, or empty text.
std::string RefusalDespiteSignature(const std::string& bytes) {
  const ManifestRecords records = ReadManifestText(bytes, ManifestEncoding::Utf8);
  if (!records.parsed) return "it is not a manifest the updater can read: " + records.error;
  if (!SerialOf(records) || !ExpiryOf(records)) {
    return "it has no valid `serial` and `expires`, which an updater built with a key requires (write it with "
           "velmora-release manifest --key, or give --serial and --expires)";
  }
  if (*ExpiryOf(records) <= update::UtcSecondsNow()) {
    return "its `expires` " + update::FormatUtcTime(*ExpiryOf(records)) + " has passed";
  }
  return {};
}

// For a root record: which thresholds its signatures meet. Root N (N > 1) needs root N-1's as
// well, read from N-1.json beside it. Empty for any other file.
std::string RootThresholdsOf(const std::string& operand, const std::string& path, const std::string& bytes,
                             const std::string& signatures) {
  const std::optional<update::RootRecord> record = update::ParseRootRecord(bytes);
  if (!record) return {};
  std::optional<update::RootRecord> previous;
  std::string note;
  if (record->version > 1) {
    const std::string folder = FolderOf(path);
    const std::string name = std::to_string(record->version - 1) + ".json";
    std::string previousBytes;
    if (ReadWholeFile(folder.empty() ? name : folder + "\\" + name, previousBytes)) {
      previous = update::ParseRootRecord(previousBytes);
    }
    if (!previous || previous->version != record->version - 1) {
      previous.reset();
      note = "root " + std::to_string(record->version) + " also needs signatures of root " +
             std::to_string(record->version - 1) + "'s root keys (" + name + " is not beside " + operand +
             " to count them)\n";
    }
  }
  const std::string unmet = UnmetRootThresholds(previous, *record, bytes, signatures);
  if (unmet.empty() && note.empty()) {
    return "root " + std::to_string(record->version) + " meets every threshold of its root keys\n";
  }
  return unmet + note;
}

// Adds the DER signature in --signature, by the key --public-key, to FILE.sig: checked against
// `bytes` first, it replaces that key's line and keeps the others.
int AttachSignature(const CommandLine& line, ReleaseConsole& console, const std::string& operand,
                    const std::string& path, const std::string& bytes) {
  const auto publicKeyOption = line.values.find("public-key");
  if (publicKeyOption == line.values.end()) {
    return UsageError(console, line.command, "--signature needs --public-key: the key's Base64 text, or a file holding it");
  }
  std::string derPath, der, error, existing;
  const std::optional<std::string> publicKey = PublicKeyArgument("--public-key", publicKeyOption->second, false, error);
  if (!publicKey) return UsageError(console, line.command, error);
  if (!PathArgument(line.values.at("signature"), derPath, error) || !ReadWholeFile(derPath, der)) {
    return UsageError(console, line.command, "cannot read the signature " + line.values.at("signature"));
  }
  const std::optional<std::string> signature = RawSignatureFromDer(der);
  if (!signature || !platform::VerifyEcdsaP256Sha256(*publicKey, bytes, *signature)) {
    return Failure(console, line.values.at("signature") + " is not that key's ECDSA signature (DER) of " + operand);
  }
  const std::string signaturePath = path + update::kSignatureSuffix;
  const bool hasFile = platform::FileLength(signaturePath) >= 0;
  std::optional<std::vector<update::SignatureLine>> lines = std::vector<update::SignatureLine>();
  if (hasFile && (!ReadWholeFile(signaturePath, existing) || !(lines = update::ParseSignatureFile(existing)))) {
    return Failure(console, operand + update::kSignatureSuffix + " is not a signature file; nothing was changed");
  }
  const std::string id = update::KeyIdOf(*publicKey);
  std::erase_if(*lines, [&](const update::SignatureLine& l) { return l.keyId == id; });
  lines->push_back({id, *signature});
  if (!WriteFileReplacing(signaturePath, update::SignatureFileText(*lines), error)) return Failure(console, error);
  console.Out("added the signature of key " + id + " to " + operand + update::kSignatureSuffix + "\n" +
              RootThresholdsOf(operand, path, bytes, update::SignatureFileText(*lines)));
  return kExitSuccess;
}

}  // namespace

int RunSignCommand(const CommandLine& line, ReleaseConsole& console) {
  const std::string& manifestOperand = line.operands[0];
  if (line.values.count("signature") != 0) {
    std::string path, bytes, error;
    if (!PathArgument(manifestOperand, path, error) || platform::FolderExists(path) || !ReadWholeFile(path, bytes)) {
      return UsageError(console, line.command, "cannot read " + manifestOperand);
    }
    return AttachSignature(line, console, manifestOperand, path, bytes);
  }
  if (line.repeated.count("key") == 0) return UsageError(console, line.command, "sign needs --key or --signature");
  std::string manifestPath;
  std::string error;
  if (!PathArgument(manifestOperand, manifestPath, error)) return UsageError(console, line.command, error);
  std::vector<std::string> keys;
  for (const std::string& keyOperand : line.repeated.at("key")) {
    std::string keyPath;
    std::optional<std::string> key;
    if (!PathArgument(keyOperand, keyPath, error) || !(key = ReadPrivateKeyFile(keyPath, keyOperand, error))) {
      return UsageError(console, line.command, error);
    }
    keys.push_back(*key);
  }
  std::string bytes;
  if (platform::FolderExists(manifestPath) || !ReadWholeFile(manifestPath, bytes)) {
    return UsageError(console, line.command, "cannot read the manifest " + manifestOperand);
  }
  std::string signatureText;
  if (!SignManifestBytes(keys, bytes, signatureText, error)) return Failure(console, error);
  const std::string signaturePath = manifestPath + update::kSignatureSuffix;
  if (!WriteFileReplacing(signaturePath, signatureText, error)) return Failure(console, error);
  if (const std::string refusal = RefusalDespiteSignature(bytes); !refusal.empty()) {
    console.Err("velmora-release: note: " + manifestOperand + " is signed, but an updater built with a key refuses " +
                "it: " + refusal + "\n");
  }
  console.Out("signed " + manifestOperand + ": wrote " + manifestOperand + update::kSignatureSuffix + "\n");
  return kExitSuccess;
}

}  // namespace velmora::release
