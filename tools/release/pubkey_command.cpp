// velmora-release pubkey KEY_FILE
//
// The public key of a private key file (the tool's own or a P-256 key in PEM made by openssl) as
// the Base64 text that keygen prints, the build option VELMORA_MANIFEST_PUBLIC_KEY takes and
// --public-key, --root-key and --release-key read: for a key whose printed text was not kept.
#include "command_support.h"
#include "manifest_signing.h"
#include "private_key_file.h"
#include "release_commands.h"
#include "release_files.h"
#include "update/manifest_signature.h"

namespace velmora::release {

int RunPubkeyCommand(const CommandLine& line, ReleaseConsole& console) {
  const std::string& operand = line.operands[0];
  std::string path;
  std::string error;
  std::optional<std::string> key;
  if (!PathArgument(operand, path, error) || !(key = ReadPrivateKeyFile(path, operand, error))) {
    return UsageError(console, line.command, error);
  }
  console.Out(update::PublicKeyText(PublicKeyOf(*key)) + "\n");
  return kExitSuccess;
}

}  // namespace velmora::release
