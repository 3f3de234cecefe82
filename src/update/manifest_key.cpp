// The public key that manifests must be signed with, from the build option
// VELMORA_MANIFEST_PUBLIC_KEY (empty: manifests are not signed). Alone in its file so that a
// program can link its own definition instead (the end-to-end tests' updater with a test key).
#include "update/manifest_signature.h"

#ifndef VELMORA_MANIFEST_PUBLIC_KEY
#define VELMORA_MANIFEST_PUBLIC_KEY ""
#endif

namespace velmora::update {

std::string_view ConfiguredManifestKeyText() { return VELMORA_MANIFEST_PUBLIC_KEY; }

}  // namespace velmora::update
