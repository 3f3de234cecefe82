// The manifest server's origin is a setting of the build (VELMORA_MANIFEST_ORIGIN, an https origin
// checked by CMake), kept in this one file so that changing it rebuilds nothing else. The policy's
// Origin replaces it (update/origin.h).
#include "update/manifest.h"

#include "state/program_state.h"
#include "update/channel.h"
#include "update/origin.h"

#ifndef VELMORA_MANIFEST_ORIGIN
#error "VELMORA_MANIFEST_ORIGIN is set by the build"
#endif

namespace velmora::update {

std::string BuiltInOrigin() { return VELMORA_MANIFEST_ORIGIN; }

std::string ManifestUrl() { return ManifestOrigin() + ManifestPathFor(state::State().channel); }

std::string RootRecordUrl(std::int64_t version) {
  return ManifestOrigin() + kRootRecordFolder + std::to_string(version) + ".json";
}

}  // namespace velmora::update
