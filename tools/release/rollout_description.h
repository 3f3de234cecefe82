// How the publisher's tool tells a manifest's channel and staged rollout to people (publish,
// rollout, verify, diff).
#pragma once

#include <cstdint>
#include <string>

#include "manifest_reader.h"

namespace velmora::release {

// "5% of the installations", "every installation (100%)", "no installation that has not taken it
// yet (0%: halted)".
std::string DescribeRollout(std::int64_t percent);

// The lines for a manifest that names its channel or stages its release, each ending in "\n":
//   "channel beta\n"
//   "rollout: 5% of the installations, places drawn from rolloutSerial 1799236800\n"
// A rollout without `rolloutSerial` says what the places are drawn from instead (the serial, or
// the release's files). Empty text when the manifest carries none of `channel`, `rollout` and
// `rolloutSerial` in a valid form.
std::string DescribeChannelAndRollout(const ManifestRecords& records);

}  // namespace velmora::release
