// The root of trust of this build and of this installation (docs/signing.md). The build carries
// one root record (VELMORA_ROOT_OF_TRUST), or one key (VELMORA_MANIFEST_PUBLIC_KEY: a root that
// never rotates), or neither (manifests are not signed). Roots taken from the server later are kept
// in Bin\Config\UP.root.json below the run directory.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "update/root_record.h"

namespace velmora::update {

inline constexpr char kStoredRootFileName[] = "\\Bin\\Config\\UP.root.json";

// The build's root: the configured record, else the configured key's root, else nothing. A
// configured record that does not parse gives a root without keys, which nothing satisfies (the
// build refuses such a file, so it should never get that far).
std::optional<RootRecord> BuiltInRoot();

// The newest root this installation may trust, walked from the newest it holds (the stored one
// when it is newer than `builtIn`) up to the newest the server publishes beside the manifest
// (RootRecordUrl). Every root taken is stored durably before the next is asked for, and the
// stored serials are forgotten first when it changes the release keys. Nothing when the walk is
// refused; `why` says why. A root that never rotates is returned as it is, without a request.
std::optional<RootRecord> NewestTrustedRoot(const RootRecord& builtIn, const std::string& runDirectory,
                                            std::string& why);

// The configured record's text (update/root_of_trust_text.cpp, one per program); empty: none.
std::string_view ConfiguredRootRecordText();

// Tests: `text` replaces the configured record's text until called with nullptr.
void ReplaceConfiguredRootRecord(const std::string* text);

}  // namespace velmora::update
