// The code-signing subject the build pins, from the build option VELMORA_CODE_SIGNING_SUBJECT
// (empty: none). Alone in its file so that a program can link its own definition instead (the
// end-to-end tests' updater with the tests' certificate).
#include "update/code_signing.h"

#ifndef VELMORA_CODE_SIGNING_SUBJECT
#define VELMORA_CODE_SIGNING_SUBJECT ""
#endif

namespace velmora::update {

std::string_view ConfiguredCodeSigningSubject() { return VELMORA_CODE_SIGNING_SUBJECT; }

}  // namespace velmora::update
