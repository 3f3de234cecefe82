// Linux has no Authenticode verifier: every file is unchecked, which a build that pins a signer
// refuses. Tests replace the reader (platform::ReplaceCodeSignatureReader).
#include "platform/code_signature.h"

namespace velmora::platform {

CodeSignature PlatformReadCodeSignature(const std::string&) {
  return {CodeSignatureStatus::Unchecked, {}, "this system cannot check Authenticode signatures"};
}

}  // namespace velmora::platform
