// The publisher's private key file, as `velmora-release keygen` writes it and `sign`, `manifest`
// and `publish` read it: one line, "velmora-ecdsa-p256-private-key " and the Base64 of the
// 96-byte key (update/manifest_signature.h). A P-256 key made by openssl, in PEM, is read as well
// (pem_private_key.h).
//
// The file is created for its owner alone where the system allows it: mode 0600 from the moment
// it exists on POSIX systems. On Windows it takes the permissions of its folder (a folder in the
// user's profile is the user's own).
#pragma once

#include <optional>
#include <string>

namespace velmora::release {

// The key in the file at `path` (GBK); nothing, with `error` (UTF-8, naming `shownPath`) set, when
// the file is missing or unreadable, or does not hold a private key (a public key included).
std::optional<std::string> ReadPrivateKeyFile(const std::string& path, const std::string& shownPath,
                                              std::string& error);

enum class KeyFileWrite {
  Written,
  Exists,  // the file was there and `replace` was not given: nothing was changed
  Failed,  // `error` says why; no partly written key file is left behind
};

// Writes `text` as the key file at `path` (GBK). Without `replace` the file is created only if
// it does not exist (checked and created in one step). With `replace` the text goes into
// "<path>.velmora-new" first, which then replaces the file in one step.
KeyFileWrite WritePrivateKeyFile(const std::string& path, const std::string& text, bool replace, std::string& error);

}  // namespace velmora::release
