// velmora-release sign MANIFEST --key KEY_FILE...
//
// Writes MANIFEST.sig: the signature of the manifest file's exact bytes, written under a
// temporary name and renamed, so no half-written signature is ever in its place.
#include "command_support.h"
#include "manifest_checks.h"
#include "manifest_reader.h"
#include "manifest_signing.h"
#include "platform/directory_walk.h"
#include "private_key_file.h"
#include "release_commands.h"
#include "release_files.h"
#include "update/manifest_freshness.h"
#include "update/manifest_signature.h"

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

}  // namespace

int RunSignCommand(const CommandLine& line, ReleaseConsole& console) {
  const std::string& manifestOperand = line.operands[0];
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
