// The staged rollout's percentage on the command line: `publish --rollout PERCENT` and
// `rollout --percent PERCENT` (docs/rollouts.md). A manifest's `rollout` member is the percentage
// of installations offered the release, a whole number from 0 to 100.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "command_line.h"
#include "release_console.h"

namespace velmora::release {

inline constexpr std::int64_t kWholeRollout = 100;

// The percentage that `text` gives: decimal digits of a number from 0 to 100; nothing otherwise
// ("-1", "101", "5%", "2.5", "").
std::optional<std::int64_t> ParsePercent(const std::string& text);

// The option `name` ("rollout", "percent") of `line`, when given. A value that is not a
// percentage is a usage error: `exitStatus` is set and false returned.
bool PercentArgument(const CommandLine& line, const std::string& name, ReleaseConsole& console,
                     std::optional<std::int64_t>& percent, int& exitStatus);

}  // namespace velmora::release
