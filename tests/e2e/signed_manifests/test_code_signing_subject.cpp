// The code-signing subject that the end-to-end tests' updater velmora-update-test-signer.exe pins:
// the common name of the certificate the tests make with openssl and sign programs with.
#include "update/code_signing.h"

namespace velmora::update {

std::string_view ConfiguredCodeSigningSubject() { return "Velmora Test Publisher"; }

}  // namespace velmora::update
