// The manifest server's origin is a setting of the build (VELMORA_MANIFEST_ORIGIN, an https origin
// checked by CMake), kept in this one file so that changing it rebuilds nothing else.
#include "update/manifest.h"

#include "state/program_state.h"
#include "update/channel.h"

#ifndef VELMORA_MANIFEST_ORIGIN
#error "VELMORA_MANIFEST_ORIGIN is set by the build"
#endif

namespace velmora::update {

std::string ManifestUrl() { return std::string(VELMORA_MANIFEST_ORIGIN) + ManifestPathFor(state::State().channel); }

std::string RootRecordUrl(std::int64_t version) {
  return std::string(VELMORA_MANIFEST_ORIGIN) + kRootRecordFolder + std::to_string(version) + ".json";
}

}  // namespace velmora::update
