// The Authenticode signature of a program file and the subject of its signer.
// Windows: WinVerifyTrust with WINTRUST_ACTION_GENERIC_VERIFY_V2 and no UI, revocation not
// checked and no URL fetched (the check must not wait on the network), then the signer's
// certificate from the provider's state (WTHelperProvDataFromStateData,
// WTHelperGetProvSignerFromChain) and its subject's common name (CertGetNameStringW). The POSIX
// layer cannot check Authenticode: it answers `Unchecked`, and tests replace the reader.
#pragma once

#include <string>

namespace velmora::platform {

enum class CodeSignatureStatus {
  Valid,       // WinVerifyTrust accepted the signature; `signer` names who made it
  Unsigned,    // no signature (TRUST_E_NOSIGNATURE and the like)
  BadDigest,   // the file's bytes are not those that were signed (TRUST_E_BAD_DIGEST)
  Refused,     // any other refusal: an untrusted or expired certificate, an unknown form
  Unchecked,   // this system cannot check signatures, or the file could not be read
};

struct CodeSignature {
  CodeSignatureStatus status = CodeSignatureStatus::Unchecked;
  std::string signer;  // UTF-8: the common name of the signer certificate's subject (Valid only)
  std::string detail;  // UTF-8, for the log: what the system answered ("WinVerifyTrust 0x800b0100")
};

// The signature of the file at `path` (GBK). Thread-safe; reads the whole file.
CodeSignature ReadCodeSignature(const std::string& path);

// Tests: `reader` is called instead of the platform's check; null restores it. Thread-safe.
using CodeSignatureReader = CodeSignature (*)(const std::string& path);
void ReplaceCodeSignatureReader(CodeSignatureReader reader);

// The platform's own check.
CodeSignature PlatformReadCodeSignature(const std::string& path);

}  // namespace velmora::platform
