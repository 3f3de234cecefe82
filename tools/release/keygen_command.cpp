// velmora-release keygen --out KEY_FILE [--force]
//
// A new ECDSA P-256 key pair: the private key into KEY_FILE (for its owner alone), the public key
// on standard output in the form the build option VELMORA_MANIFEST_PUBLIC_KEY takes.
#include "command_support.h"
#include "platform/signature.h"
#include "private_key_file.h"
#include "release_commands.h"
#include "release_files.h"
#include "update/manifest_signature.h"

namespace velmora::release {

int RunKeygenCommand(const CommandLine& line, ReleaseConsole& console) {
  const std::string& outOperand = line.values.at("out");
  std::string path;
  std::string error;
  if (!PathArgument(outOperand, path, error)) return UsageError(console, line.command, error);
  const std::optional<platform::EcdsaP256KeyPair> pair = platform::GenerateEcdsaP256KeyPair();
  if (!pair) return Failure(console, "the system could not make a key pair");

  if (!CreateParentFolder(path, error)) return Failure(console, error);
  switch (WritePrivateKeyFile(path, update::PrivateKeyText(pair->privateKey), line.flags.count("force") != 0, error)) {
    case KeyFileWrite::Written:
      break;
    case KeyFileWrite::Exists:
      return UsageError(console, line.command,
                        outOperand + " already exists; give --force to replace it (the old key is then lost, and "
                                     "updaters built with it accept nothing the new one signs)");
    case KeyFileWrite::Failed:
      return Failure(console, error);
  }
  const std::string publicKey = update::PublicKeyText(pair->publicKey);
  console.Out(publicKey + "\n");
  console.Err("velmora-release: wrote the private key to " + outOperand +
              "; keep it secret, off the servers and out of version control.\n"
              "velmora-release: build the updater with -DVELMORA_MANIFEST_PUBLIC_KEY=" + publicKey +
              "\nvelmora-release: and sign releases with publish --key " + outOperand + "\n");
  return kExitSuccess;
}

}  // namespace velmora::release
