#include "public_key_argument.h"

#include "manifest_signing.h"
#include "platform/directory_walk.h"
#include "platform/file.h"
#include "private_key_file.h"
#include "release_files.h"
#include "update/manifest_signature.h"

namespace velmora::release {
namespace {

// A key file is one line, or a few of PEM; anything larger is not one.
constexpr std::int64_t kLongestKeyFile = 4096;

}  // namespace

std::optional<std::string> PublicKeyArgument(const std::string& option, const std::string& argument,
                                             bool privateKeyFiles, std::string& error) {
  if (std::optional<std::string> key = update::PublicKeyFromText(argument)) return key;
  std::string path;
  std::string bytes;
  if (PathArgument(argument, path, error) && !platform::FolderExists(path)) {
    const std::int64_t length = platform::FileLength(path);
    if (length >= 0 && length <= kLongestKeyFile && ReadWholeFile(path, bytes)) {
      if (std::optional<std::string> key = update::PublicKeyFromText(bytes)) return key;
      std::string why;
      const std::optional<std::string> privateKey = ReadPrivateKeyFile(path, argument, why);
      if (privateKey && privateKeyFiles) return PublicKeyOf(*privateKey);
      error = privateKey ? option + " " + argument + " holds a private key; give the public key text that keygen printed"
                         : option + " " + argument + " does not hold a public key (the Base64 of 64 bytes)";
      return std::nullopt;
    }
  }
  error = option + " \"" + argument + "\" is neither a public key (the Base64 of 64 bytes, as keygen prints it) "
          "nor a file holding one";
  return std::nullopt;
}

}  // namespace velmora::release
