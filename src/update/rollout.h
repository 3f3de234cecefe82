// Staged rollouts (docs/rollouts.md): which installations a release with a `rollout` percentage
// is offered to. Each installation has a place from 0 to 9999 in each release's rollout, drawn
// from its identifier and the release's seed; it is inside when its place is below the percentage
// times 100. Places are uniform over installations, fixed for one release whatever its percentage,
// and drawn afresh for every release.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::update {

// The number of places: a place is 0 to kRolloutPlaces - 1.
inline constexpr std::uint32_t kRolloutPlaces = 10000;

// The place of installation `installationId` in the rollout of the release with `seed`: the first
// 8 bytes of SHA-256("<installationId>/<seed>") as a big-endian number, modulo kRolloutPlaces.
std::uint32_t RolloutPlace(const std::string& installationId, const std::string& seed);

// A place inside a rollout of `percent` (0-100).
bool IsInsideRollout(std::uint32_t place, std::int64_t percent);

// 32 lower-case hex digits.
bool IsInstallationId(const std::string& text);

// The installation's identifier, drawn (16 random bytes) and kept the first time it is needed,
// and whenever the kept one is missing or malformed. Empty only when none could be drawn.
std::string InstallationId(const std::string& runDirectory);

}  // namespace velmora::update
