// The channel an installation follows (docs/rollouts.md): the default channel reads the manifest
// at kManifestPath, a named one at /download/2099/pro/<name>/up.txt on the same origin. The
// administrator's policy chooses first, then --channel (which is remembered), then the remembered
// choice.
#pragma once

#include <optional>
#include <string>

namespace velmora::update {

// The name that stands for the default channel.
inline constexpr char kDefaultChannelName[] = "default";

// The manifest's path on the server for `channel` (empty: the default channel).
std::string ManifestPathFor(const std::string& channel);

struct ChannelChoice {
  std::string channel;  // empty: the default channel
  std::string error;    // not empty: the choice is not a channel name (a usage error)
  std::string source;   // "policy", "option", "remembered" or "default", for the log
};

// The channel to follow: `policy` (the administrator's value), else `option` (--channel, which is
// then remembered, "default" forgetting), else the remembered one, else the default channel.
// A policy or option that is not a channel name is an error; a remembered file that holds none is
// ignored.
ChannelChoice ChooseChannel(const std::optional<std::string>& policy, const std::optional<std::string>& option,
                            const std::string& runDirectory);

}  // namespace velmora::update
