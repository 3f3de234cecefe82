// A public key as the command line gives it (--public-key, --root-key, --release-key): its Base64
// text itself ("Dq73cO...Nlg==", as keygen prints it), or a file holding that text (root-a.pub of
// `openssl ec -pubout ... | base64`). Where `privateKeyFiles` allows it, a private key file (the
// tool's or PEM) stands for its public half too.
#pragma once

#include <optional>
#include <string>

namespace velmora::release {

// The 64-byte public key that `argument`, given to `option` ("--public-key"), names; nothing with
// `error` (UTF-8) set when it names none.
std::optional<std::string> PublicKeyArgument(const std::string& option, const std::string& argument,
                                             bool privateKeyFiles, std::string& error);

}  // namespace velmora::release
