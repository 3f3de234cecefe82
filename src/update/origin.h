// The origin the manifest, its signature and the root records are fetched from: the build's
// (VELMORA_MANIFEST_ORIGIN), or the one the administrator's policy names (`Origin`,
// docs/managed.md), so that a company serves releases from its own server. The manifest's
// signature rules do not change with it: an internal server serves releases, it cannot make one.
#pragma once

#include <optional>
#include <string>

namespace velmora::update {

// "https://" followed by a host (letters, digits, "." and "-") and optionally ":" and a port of
// 1 to 65535; nothing else (no path, no user, no query), as the build's origin.
bool IsOrigin(const std::string& text);

// The build's origin.
std::string BuiltInOrigin();

// The origin in use: ProgramState::origin, or the build's when it is empty.
std::string ManifestOrigin();

// What the start routine does with the policy's Origin (`policy`, empty when not set): an origin
// is followed (ProgramState::origin) and logged; anything else is refused with the reason, which
// the caller reports as a usage error.
std::string FollowPolicyOrigin(const std::optional<std::string>& policy);

}  // namespace velmora::update
